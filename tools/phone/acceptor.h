#pragma once

namespace kova::phone {

/// Where sessions come from: something that becomes readable when a desktop connects.
class Acceptor {
  public:
    virtual ~Acceptor() = default;
    /// The descriptor to watch for readability.
    virtual int fd() const = 0;
    /// Called when fd() is readable: the connected socket of a new session, or -1 when the
    /// readiness was handled without starting a session.
    virtual int accept_session() = 0;
    /// Opens or closes the phone app: while closed, desktops cannot start sessions.
    virtual void set_app_open(bool open) = 0;
};

}  // namespace kova::phone
