#pragma once

namespace kova {

/// The registration that opens the application when the user logs in.
class LoginItem {
  public:
    virtual ~LoginItem() = default;
    /// True when the application is registered to open at login.
    virtual bool isEnabled() = 0;
    /// True when the registration waits for the user's approval.
    virtual bool requiresApproval() { return false; }
    /// Registers (on) or unregisters (off); throws std::exception with the system's description.
    virtual void set(bool on) = 0;
};

}  // namespace kova
