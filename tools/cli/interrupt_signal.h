#pragma once

namespace kova::cli {

/// Counts SIGINT and SIGTERM from now on instead of letting them end the process.
void install_interrupt_counter();

/// How many interrupts arrived since install_interrupt_counter().
int interrupt_count();

}  // namespace kova::cli
