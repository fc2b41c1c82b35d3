#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/model/device.h"
#include "app/model/ports/audio_watcher.h"
#include "app/model/ports/background_runner.h"
#include "app/model/ports/library.h"
#include "app/model/ports/login_item.h"
#include "app/model/ports/main_queue.h"
#include "app/model/ports/microphone.h"
#include "app/model/ports/settings.h"
#include "app/model/ports/sha256.h"
#include "app/model/ports/usb_watcher.h"

namespace kova {

/// Where the model stands: no session, a session (or its probe, wait or reconnect), stopping.
enum class Phase { idle, running, stopping };

/// The three looks of the tray glyph.
enum class GlyphState { idle, streaming, error };

/// The published properties, named in change notifications.
enum class Property {
    devices,
    selectedPath,
    kovaDevicePresent,
    kovaSampleRate,
    phase,
    streaming,
    stateText,
    errorText,
    inputPeak,
    bufferMs,
    underruns,
    autoStart,
    launchAtLogin,
};

/// Everything the model talks to; every member must be set.
struct ConnectPorts {
    std::shared_ptr<Library> library;              ///< The core library.
    std::shared_ptr<MainQueue> queue;              ///< The main thread's queue and timers.
    std::shared_ptr<BackgroundRunner> background;  ///< Runs the blocking iPhone probe.
    std::shared_ptr<Settings> settings;            ///< Persistent preferences.
    std::shared_ptr<Sha256> sha256;                ///< Hashes serial numbers.
    std::shared_ptr<Microphone> microphone;        ///< Audio capture permission.
    std::shared_ptr<LoginItem> loginItem;          ///< Open-at-login registration.
    std::shared_ptr<UsbWatcher> usbWatcher;        ///< USB attach/detach notifications.
    std::shared_ptr<AudioWatcher> audioWatcher;    ///< Audio device list notifications.
    std::ostream* reportLog = nullptr;             ///< Final session reports; null: stderr.
};

/// The application's controller: device list, pairing, sessions, texts, automatic start,
/// hot-plug, retry and launch at login. Main thread only, except where a member says otherwise.
class ConnectModel : public std::enable_shared_from_this<ConnectModel> {
    struct Token {};

  public:
    /// Called after a published property changed, with the property's name.
    using Observer = std::function<void(Property)>;
    /// Identifies a registered observer.
    using ObserverId = std::size_t;

    /// Builds the model and runs its start-up: list, texts, login item, watchers, auto start.
    static std::shared_ptr<ConnectModel> create(ConnectPorts ports);
    /// Use create(); public only for make_shared.
    ConnectModel(Token, ConnectPorts ports);
    /// Frees a session that still runs.
    ~ConnectModel();
    ConnectModel(const ConnectModel&) = delete;
    ConnectModel& operator=(const ConnectModel&) = delete;

    /// Registers `observer`, called after every change of a published property.
    ObserverId observe(Observer observer);
    /// Removes an observer; unknown ids are ignored.
    void unobserve(ObserverId id);

    // Published properties.
    /// The listed phones, candidates first.
    const std::vector<Device>& devices() const { return devices_; }
    /// Path of the chosen phone.
    const std::optional<std::string>& selectedPath() const { return selectedPath_; }
    /// Chooses a phone (the picker); stores it under "devicePath" or removes that key.
    void setSelectedPath(std::optional<std::string> path);
    /// The KOVA audio device exists.
    bool kovaDevicePresent() const { return kovaDevicePresent_; }
    /// The KOVA device's nominal sample rate in Hz.
    std::optional<double> kovaSampleRate() const { return kovaSampleRate_; }
    /// Idle, running or stopping.
    Phase phase() const { return phase_; }
    /// Audio flows: from the "Streaming" state to the "ended" event.
    bool streaming() const { return streaming_; }
    /// The one-line state of the panel.
    const std::string& stateText() const { return stateText_; }
    /// The current error or hint.
    const std::optional<std::string>& errorText() const { return errorText_; }
    /// Capture peak (linear) from the latest status.
    std::optional<double> inputPeak() const { return inputPeak_; }
    /// The phone's mean buffer occupancy in milliseconds.
    std::optional<double> bufferMs() const { return bufferMs_; }
    /// The phone's underrun count from the latest status.
    std::optional<long long> underruns() const { return underruns_; }
    /// Start a lone candidate phone by itself.
    bool autoStart() const { return autoStart_; }
    /// The panel's switch: stores "autoStart", then schedules a start or recomputes the text.
    void setAutoStart(bool on);
    /// The application is registered to open at login.
    bool launchAtLogin() const { return launchAtLogin_; }

    // Derived values.
    /// Idle, a phone selected and the KOVA device present.
    bool canStart() const;
    /// The tray glyph for the current state.
    GlyphState glyphState() const;

    // Device list and pairing.
    /// Re-reads the KOVA device, its rate and the phone list; fixes the selection.
    void refresh();
    /// The listed phone at `path`, none when absent.
    std::optional<Device> device(const std::optional<std::string>& path) const;
    /// Remembers the phone at `path` as paired (by its serial's hash).
    void pair(const std::string& path);
    /// Lower-case hex SHA-256 of `serial`.
    std::string hash(const std::string& serial) const;

    // Session control and events.
    /// User action: starts audio for the selected phone when canStart.
    void start();
    /// User action: stops the session, probe, wait or reconnect.
    void stop();
    /// Opens a session for the selected phone, or begins the iPhone probe.
    void startSession();
    /// The iPhone probe's answer for `path` (1 app answers, 0 or -1 not).
    void probed(const std::string& path, int result);
    /// Builds the options document and starts the library session for `path`.
    void openSession(const std::string& path);
    /// Applies one event document of the session.
    void handle(const std::string& json);
    /// The persistent accessory identity ("kova-connect-" + 8 hex digits).
    std::string accessoryId();
    /// The application is quitting: frees a running session.
    void willTerminate();

    // Texts.
    /// Session state name to state text.
    static const std::map<std::string, std::string>& stateNames();
    /// Error code to message template ("{device}" stands for the phone's name).
    static const std::map<std::string, std::string>& errorNames();
    /// Errors that no automatic restart can cure.
    static const std::set<std::string>& permanentErrors();
    /// Errors that on an iPhone mean its app is not open.
    static const std::set<std::string>& appNotOpen();
    /// The user-facing text for a failed session's error `code` on `device`.
    static std::string message(const std::string& code, const std::optional<Device>& device);
    /// Sets the idle state text (only while idle).
    void updateIdleText();

    // Automatic start, hot-plug and retry.
    /// Runs autoStartIfPossible once, 0.5 s from now.
    void scheduleAutoStart();
    /// Starts the lone candidate phone when nothing runs and the user did not stop.
    void autoStartIfPossible();
    /// A USB device came or went: (re)arms the two settle calls.
    void usbChanged();
    /// The USB bus has been quiet: re-lists and starts, or returns to idle when the phone left.
    void usbSettled();

    // Launch at login.
    /// The panel's switch: registers or unregisters, then shows the real state.
    void setLaunchAtLogin(bool on);
    /// Re-reads the login item's state (and its approval hint).
    void updateLoginItemStatus();

    // Timers, in milliseconds.
    static constexpr std::chrono::milliseconds autoStartDelay{500};      ///< After scheduling.
    static constexpr std::chrono::milliseconds usbSettleDelay{800};      ///< Short settle.
    static constexpr std::chrono::milliseconds usbmuxSettleDelay{3000};  ///< Long settle.
    static constexpr std::chrono::milliseconds probeRetryDelay{2000};    ///< App not answering.
    static constexpr std::chrono::milliseconds iosRetryDelay{1000};      ///< iPhone session failed.

  private:
    void startConfirmed();
    void denyMicrophone();
    void beginProbe(const std::string& path);
    void scheduleRetry(std::chrono::milliseconds delay, bool refreshFirst);
    void cancelRetry();
    void abandonRestart();
    void handleState(const nlohmann::json& event);
    void handleStatus(const nlohmann::json& event);
    void handleEnded(const nlohmann::json& event);
    bool scheduleRestart(const std::string& errorCode);
    void giveUp(bool present, bool failed);
    void writeReport(const nlohmann::json& report);
    void configureLoginItemOnFirstLaunch();
    void watchUSB();
    void watchAudioDevices();
    void audioDevicesChanged();
    void applySelection(const std::vector<Device>& list);
    std::set<std::string> pairedSet() const;
    static void eventCallback(void* context, const char* json);

    template <typename T>
    void publish(T& field, T value, Property property);
    void notify(Property property);

    ConnectPorts ports_;
    std::map<ObserverId, Observer> observers_;
    ObserverId nextObserver_ = 0;

    std::vector<Device> devices_;
    std::optional<std::string> selectedPath_;
    bool kovaDevicePresent_ = false;
    std::optional<double> kovaSampleRate_;
    Phase phase_ = Phase::idle;
    bool streaming_ = false;
    std::string stateText_;
    std::optional<std::string> errorText_;
    std::optional<double> inputPeak_;
    std::optional<double> bufferMs_;
    std::optional<long long> underruns_;
    bool autoStart_ = true;
    bool launchAtLogin_ = false;

    KovaSession* session_ = nullptr;
    std::optional<std::string> sessionPath_;
    bool keepRunning_ = false;
    std::optional<MainQueue::Deferred> retry_;
    int retries_ = 0;
    bool userStopped_ = false;
    std::optional<MainQueue::Deferred> usbSettle_;
    std::optional<MainQueue::Deferred> usbmuxSettle_;
};

template <typename T>
void ConnectModel::publish(T& field, T value, Property property) {
    if (field == value) {
        return;
    }
    field = std::move(value);
    notify(property);
}

}  // namespace kova
