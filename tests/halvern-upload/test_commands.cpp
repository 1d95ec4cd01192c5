// The commands of halvern-upload over a scripted device: the exit status of every ending of
// the upload road, the lines on standard error, questions, the cool-down wait and Ctrl-C.

#include "halvern-upload/Commands.h"
#include "halvern-upload/ExitCode.h"
#include "halvern-upload/Interrupt.h"
#include "halvern-upload/TerminalReporter.h"
#include "tests/support/LinkPeer.h"
#include "tests/support/RecordingReporter.h"
#include "tests/support/ScriptedPortList.h"
#include "tests/support/ScriptedDeviceLibrary.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <deque>
#include <functional>

namespace halvern::cli {
namespace {

using test::LinkPeer;
using test::ScriptedDeviceLibrary;

// Standard error as lines (a prompt and its answer make one line), standard output apart.
class FakeConsole : public Console {
public:
    QStringList lines;
    QStringList outs;
    std::deque<QString> typed;  // answers typed on the terminal; empty: end of input
    bool input_terminal = false;
    // Called before each answer is read (a test may press Ctrl-C meanwhile).
    std::function<void(const QString& prompt)> on_prompt;

    void line(const QString& text) override {
        flush();
        lines << text;
    }
    void prompt(const QString& text) override {
        flush();
        pending_ = text;
        if (on_prompt) on_prompt(text);
    }
    void end_prompt(const QString& answer) override {
        if (pending_) lines << *pending_ + answer;
        pending_.reset();
    }
    void redraw(const QString& text) override { lines << "redraw: " + text; }
    void out(const QString& text) override { outs << text; }
    std::optional<QString> read_answer() override {
        if (typed.empty()) return std::nullopt;
        const QString a = typed.front();
        typed.pop_front();
        return a;
    }
    bool error_is_terminal() const override { return false; }
    bool input_is_terminal() const override { return input_terminal; }

    // Every line but the progress lines.
    QStringList messages() const {
        QStringList out;
        for (const QString& l : lines)
            if (!l.startsWith(QLatin1String("Uploaded "))) out << l;
        return out;
    }

private:
    void flush() {
        if (pending_) lines << *pending_;
        pending_.reset();
    }
    std::optional<QString> pending_;
};

class Forwarding : public DeviceLibrary {
public:
    explicit Forwarding(DeviceLibrary& inner) : in(inner) {}
    std::int32_t init_port_timeouts(std::int32_t& h, const char* p, std::int32_t b, std::int32_t t) override {
        return in.init_port_timeouts(h, p, b, t);
    }
    std::int32_t close_port(std::int32_t h) override { return in.close_port(h); }
    std::int32_t query_upload_status(std::int32_t h, DeviceReply& r) override { return in.query_upload_status(h, r); }
    std::int32_t request_standby_mode(std::int32_t h, DeviceReply& r) override { return in.request_standby_mode(h, r); }
    std::int32_t request_upload_mode(std::int32_t h, DeviceReply& r) override { return in.request_upload_mode(h, r); }
    std::int32_t get_proj_info(std::int32_t h, DeviceReply& r) override { return in.get_proj_info(h, r); }
    std::int32_t send_data(std::int32_t h, std::span<const std::uint8_t> f, std::int32_t& o) override {
        return in.send_data(h, f, o);
    }
    std::int32_t get_data(std::int32_t h, std::span<std::uint8_t> b, std::int32_t& o) override {
        return in.get_data(h, b, o);
    }

private:
    DeviceLibrary& in;
};

ScriptedDeviceLibrary::Step status(std::uint8_t value, std::uint8_t bcd_high = 0, std::uint8_t bcd_low = 0,
                                   std::function<void()> also = {}) {
    return {kOk, [=](DeviceReply& r) {
                r[19] = value;
                r[20] = bcd_high;
                r[21] = bcd_low;
                if (also) also();
            }};
}
ScriptedDeviceLibrary::Step failing(std::int32_t result) { return {result, {}}; }

const QString kConfirm = "Are you sure you want to upload version 01.05 to the Orvelle device selected? [y/N] ";
const QString kPowerOff = "Device must be powered off to enter upload mode.  Is it ok to turn device off? [y/N] ";
const QString kStopPrompt = kStopQuestion + " [y/N] ";
const QString kSuccess = "The operating system has been uploaded successfully!";
const QString kFailure = "There was an error uploading the operating system to the device.";
const QString kCoolText =
    "This projector needs time to cool down before it can start receiving the operating system from the pc.";

class Commands : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(QProcess::execute(QStringLiteral(SAMPLE_RELEASE_PATH), {rel()}), 0);
        no_interrupt();
    }
    void TearDown() override { no_interrupt(); }
    static void no_interrupt() {
        interrupt::take();
        interrupt::set_guarded(false);
    }
    QString rel() const { return dir.filePath("rel"); }

    int run(const QStringList& arguments) {
        Environment env{console, settings, dir.path(),
                        [this](const PortMap&) -> std::unique_ptr<DeviceLibrary> {
                            return std::make_unique<Forwarding>(*lib);
                        },
                        &ports};
        return run_cli(arguments, env);
    }
    // An upload of DEMO.PJV on COM1, with the given options in front.
    int upload(QStringList options) {
        options << "--port" << "COM1" << "--dir" << rel() << "DEMO.PJV";
        return run(options);
    }
    // A projector in standby that accepts upload mode.
    void standby_device() {
        lib->status_steps = {status(0), status(0), status(0)};
        lib->upload_mode_steps = {status(1)};
    }

    // A fresh projector: the peer answers on the library it was made with.
    void reset_device() {
        peer.reset();
        lib = std::make_unique<ScriptedDeviceLibrary>();
        peer = std::make_unique<LinkPeer>(*lib);
    }

    QTemporaryDir dir;
    std::unique_ptr<ScriptedDeviceLibrary> lib = std::make_unique<ScriptedDeviceLibrary>();
    std::unique_ptr<LinkPeer> peer = std::make_unique<LinkPeer>(*lib);
    FakeConsole console;
    SettingsStore settings{dir.filePath("user.ini")};
    test::ScriptedPortList ports;
};

TEST_F(Commands, EveryEndingOfTheRoadHasItsExitStatus) {
    const struct {
        const char* name;
        std::function<void(ScriptedDeviceLibrary&, LinkPeer&)> setup;
        int code;
        const char* last_line;
    } cases[] = {
        {"uploaded", [](auto&, auto&) {}, kExitOk, "The operating system has been uploaded successfully!"},
        {"port does not open", [](auto& l, auto&) { l.open_results = {kPortNotFound}; }, kExitPortNotOpened,
         "Unable to connect to serial port."},
        {"no status", [](auto& l, auto&) { l.status_steps = {failing(kTimeout)}; }, kExitDeviceFailed,
         "Unable to get device status."},
        {"standby refused",
         [](auto& l, auto&) {
             l.status_steps = {status(1)};
             l.standby_steps = {failing(kTimeout)};
         },
         kExitDeviceFailed, "Unable to turn device off."},
        {"still on after standby", [](auto& l, auto&) { l.status_steps = {status(1), status(1), status(1)}; },
         kExitDeviceFailed, "Unexpected status code from device. (1) 0"},
        {"no upload mode", [](auto& l, auto&) { l.upload_mode_steps = {status(0)}; }, kExitDeviceFailed,
         "Unable to set device to upload mode."},
        {"no reopen at 38400", [](auto& l, auto&) { l.open_results = {kOk, kAccessDenied}; }, kExitPortNotOpened,
         "Unable to set baud rate to 38.4 kbps"},
        {"transfer fails", [](auto&, auto& p) { p.silent_codes = {9}; }, kExitTransferFailed,
         "There was an error uploading the operating system to the device."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset_device();
        console = FakeConsole();
        standby_device();
        c.setup(*lib, *peer);
        EXPECT_EQ(upload({"--yes", "--test-poll-interval-ms", "1"}), c.code);
        ASSERT_FALSE(console.lines.isEmpty());
        EXPECT_EQ(console.lines.last(), QString::fromUtf8(c.last_line));
        EXPECT_EQ(lib->opens, lib->closes) << "every open port is closed";
    }
}

TEST_F(Commands, WithoutTerminalOrYesNothingIsOpened) {
    standby_device();
    EXPECT_EQ(upload({}), kExitDeclined);
    EXPECT_EQ(console.lines, QStringList{kConfirm + "n"});
    EXPECT_TRUE(lib->calls.empty());
}

TEST_F(Commands, PowerOffAnsweredNoOnTheTerminal) {
    lib->status_steps = {status(1)};
    console.input_terminal = true;
    console.typed = {"Y", "maybe", "no"};
    EXPECT_EQ(upload({}), kExitDeclined);
    EXPECT_EQ(console.lines,
              (QStringList{kConfirm + "y", "Starting upload...", kPowerOff + "maybe", kPowerOff + "no"}));
    EXPECT_EQ(std::count(lib->calls.begin(), lib->calls.end(), "request_standby_mode"), 0);
    EXPECT_EQ(lib->closes, 1);
}

TEST_F(Commands, CoolDownPrintsTheRemainingTimeUntilStandby) {
    lib->status_steps = {status(1), status(2), status(2, 0x00, 0x15), status(2, 0x00, 0x10), status(0), status(0)};
    lib->upload_mode_steps = {status(1)};
    EXPECT_EQ(upload({"--yes", "--test-poll-interval-ms=1"}), kExitOk);
    EXPECT_EQ(console.messages(), (QStringList{kConfirm + "y", "Starting upload...", kPowerOff + "y", kCoolText,
                                               "Remaining Time: 0 min 15 s", "Remaining Time: 0 min 10 s", kSuccess}));
}

TEST_F(Commands, CtrlCDuringThePauseBeforeTheFirstMessage) {
    // Ctrl-C comes as the projector enters upload mode; the pause before the first message
    // asks, and a confirmed stop fails that message without sending anything.
    lib->status_steps = {status(0), status(0), status(0)};
    lib->upload_mode_steps = {status(1, 0, 0, [] { interrupt::raise_flag(); })};
    console.input_terminal = true;
    console.typed = {"y", "y"};
    EXPECT_EQ(upload({}), kExitTransferFailed);
    EXPECT_EQ(console.messages(),
              (QStringList{kConfirm + "y", "Starting upload...", kStopPrompt + "y", "Unable to transmit command to device.",
                           "Error initiating upload mode of device.", kFailure}));
    EXPECT_TRUE(peer->codes().empty());
    EXPECT_EQ(lib->opens, lib->closes);
}

TEST_F(Commands, CtrlCDuringTheCoolDownCancelsIt) {
    // Ctrl-C comes while the wait's first query runs: the wait ends before its first tick.
    lib->status_steps = {status(2), status(2), status(2, 0x01, 0x80, [] { interrupt::raise_flag(); })};
    EXPECT_EQ(upload({"--yes"}), kExitCoolDownCancelled);
    EXPECT_EQ(console.lines, (QStringList{kConfirm + "y", "Starting upload...", kCoolText, "Remaining Time: 3 min 0 s",
                                          "User canceled device cool down."}));
    EXPECT_EQ(std::count(lib->calls.begin(), lib->calls.end(), "query_upload_status"), 3);
    EXPECT_EQ(lib->opens, lib->closes);
}

// Ctrl-C while the first block is flashed: the stop question is asked once and answered as
// given; without a terminal it is not taken, even with --yes.
TEST_F(Commands, CtrlCDuringTheTransferAsksWhetherToStop) {
    const struct {
        bool terminal;
        QString typed;  // on the terminal
        QStringList options;
        int code;
        QStringList messages;
    } cases[] = {
        {true, "y", {"--emergency"}, kExitTransferFailed,
         {kStopPrompt + "y", "Unable to transmit command to device.", "Unable to transmit data.",
          "Error sending frame 2 of BOOT.mot file.", "Error uploading BOOT.mot", kFailure}},
        {true, "", {"--emergency"}, kExitOk, {kStopPrompt, kSuccess}},  // Enter: the default, No
        {false, "", {"--emergency", "--yes"}, kExitOk, {kStopPrompt + "n", kSuccess}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.messages.first().toStdString());
        no_interrupt();
        reset_device();
        console = FakeConsole();
        console.input_terminal = c.terminal;
        if (c.terminal) console.typed = {c.typed};
        bool pressed = false;
        lib->on_send = [this, &pressed, peer_side = lib->on_send](ScriptedDeviceLibrary& l,
                                                                   const ScriptedDeviceLibrary::Frame& f) {
            peer_side(l, f);
            if (!pressed && !peer->messages.empty() && peer->messages.back().code == 9) {
                pressed = true;
                interrupt::raise_flag();
            }
        };
        EXPECT_EQ(upload(c.options), c.code);
        EXPECT_EQ(console.messages(), c.messages);
        EXPECT_EQ(lib->opens, 1);
        EXPECT_EQ(lib->closes, 1);
        // A confirmed stop sends nothing after the flash it came in.
        if (c.code != kExitOk) {
            EXPECT_EQ(peer->codes(), (std::vector<int>{1, 3, 5, 7, 9}));
        }
    }
}

TEST_F(Commands, ProgressLinesEveryTenthWhenNotATerminal) {
    lib->status_steps.clear();
    EXPECT_EQ(upload({"--emergency"}), kExitOk);
    QStringList percents;
    for (const QString& l : console.lines)
        if (l.startsWith(QLatin1String("Uploaded "))) percents << l.mid(9, 4).trimmed();
    // BOOT, MAIN and DATA: 3, 4 and 1 blocks of 16364 bytes over a total of 83,730 bytes.
    EXPECT_EQ(percents, (QStringList{"19%", "39%", "58%", "78%", "97%", "100%"}));
    EXPECT_EQ(console.lines.last(), kSuccess);
}

TEST_F(Commands, SettingsGiveTheDefaultsAndAreOnlyRead) {
    settings.set_startup("Port", "COM3");
    settings.set_startup("Baud Rate", "19200");
    settings.set_startup("Working Directory", rel());
    settings.set("Ports", "COM3", "/dev/ttyUSB7");
    QFile file(settings.file_name());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    standby_device();
    EXPECT_EQ(run({"--yes", "DEMO.PJV"}), kExitOk);
    ASSERT_GE(lib->calls.size(), 1u);
    EXPECT_EQ(lib->calls.front(), "open COM3 19200 30000");
    EXPECT_NE(std::find(lib->calls.begin(), lib->calls.end(), "open COM3 38400 30000"), lib->calls.end());

    reset_device();
    standby_device();
    EXPECT_EQ(run({"--yes", "--port", "/dev/ttyX", "--baud", "9600", "--test-read-timeout-ms", "700", "DEMO.PJV"}),
              kExitOk);
    EXPECT_EQ(lib->calls.front(), "open /dev/ttyX 9600 700");

    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
}

TEST_F(Commands, EmptyStoreDefaultsToComOneAndTheProgramDirectory) {
    QFile::copy(rel() + "/DEMO.PJV", dir.filePath("DEMO.PJV"));
    for (const char* f : {"BOOT.mot", "MAIN.mot", "DATA.mot"})
        QFile::copy(rel() + '/' + f, dir.filePath(f));
    standby_device();
    EXPECT_EQ(run({"--yes", "demo.pjv"}), kExitOk);
    EXPECT_EQ(lib->calls.front(), "open COM1 38400 30000");
    EXPECT_FALSE(QFile::exists(settings.file_name()));
}

TEST_F(Commands, BadReleaseFilesTouchNoDevice) {
    QFile::remove(rel() + "/MAIN.mot");
    const struct {
        QStringList arguments;
        QString last_line;
    } cases[] = {
        {{"--dir", rel(), "NONE.PJV"}, "halvern-upload: no release file NONE.PJV in " + rel()},
        {{dir.filePath("elsewhere/DEMO.PJV")}, "halvern-upload: no release file " + dir.filePath("elsewhere/DEMO.PJV")},
        {{"--dir", rel(), "--emergency", "DEMO.PJV"},
         "halvern-upload: " + rel() + "/DEMO.PJV is not a release that can be uploaded."},
        {{"--bogus"}, "Try 'halvern-upload --help'."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.last_line.toStdString());
        console = FakeConsole();
        EXPECT_EQ(run(c.arguments), kExitBadArguments);
        EXPECT_EQ(console.lines.last(), c.last_line);
    }
    EXPECT_TRUE(console.lines.first().startsWith(QLatin1String("halvern-upload: unknown option --bogus")));
    EXPECT_TRUE(lib->calls.empty());
}

TEST_F(Commands, CheckPrintsEveryFileAndRefusesADamagedRecordBeforeAnyPort) {
    EXPECT_EQ(run({"--check", "--dir", rel(), "small.pjv"}), kExitOk);
    EXPECT_EQ(console.outs, QStringList{"TINY.mot: 18 records, 256 bytes inside the window 00000000-000000FF, 0 bytes "
                                        "outside it, 0 addresses of the window filled with FF"});
    EXPECT_TRUE(console.lines.isEmpty());

    console = FakeConsole();
    EXPECT_EQ(run({"--check", rel() + "/DEMO.PJV"}), kExitOk);
    ASSERT_EQ(console.outs.size(), 3);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(console.outs[i].startsWith(QStringList{"BOOT", "MAIN", "DATA"}[i] + ".mot: "));

    // One data digit of MAIN.mot's second line changed, its checksum kept.
    QFile main(rel() + "/MAIN.mot");
    ASSERT_TRUE(main.open(QIODevice::ReadWrite));
    QByteArray text = main.readAll();
    const qsizetype at = text.indexOf('\n') + 1 + 10;
    text[at] = text[at] == '0' ? '1' : '0';
    main.seek(0);
    main.write(text);
    main.close();
    const QStringList chain = {
        "Motorola format error.  Checksum of line 2 of MAIN.mot does not match.",
        "Error during read of MAIN.mot file.",
        "halvern-upload: " + rel() + "/DEMO.PJV is not a release that can be uploaded.",
    };
    console = FakeConsole();
    EXPECT_EQ(run({"--check", "--dir", rel(), "DEMO.PJV"}), kExitBadArguments);
    EXPECT_EQ(console.lines, chain);
    ASSERT_EQ(console.outs.size(), 1);
    EXPECT_TRUE(console.outs[0].startsWith(QLatin1String("BOOT.mot: ")));

    // An upload runs the same check before its port opens, in both modes.
    for (const QStringList& options : {QStringList{"--yes"}, QStringList{"--emergency"}}) {
        console = FakeConsole();
        EXPECT_EQ(upload(options), kExitBadArguments);
        EXPECT_EQ(console.lines, chain);
        EXPECT_TRUE(console.outs.isEmpty());
    }
    EXPECT_TRUE(lib->calls.empty());
}

TEST_F(Commands, FindAndStatusPrintTheirResults) {
    lib->info_steps = {{kOk, [](DeviceReply& r) {
                           const char model[] = " PJ-900\0X  ";
                           std::copy(model, model + sizeof model - 1, r.begin() + 19);
                           const char version[] = "0105";
                           std::copy(version, version + 4, r.begin() + 35);
                       }}};
    EXPECT_EQ(run({"--find"}), kExitOk);
    EXPECT_EQ(console.outs, (QStringList{"Model: PJ-900X", "O/S Version: 01.05"}));
    EXPECT_EQ(console.lines, QStringList{"Searching for devices..."});
    EXPECT_EQ(lib->calls.front(), "open COM1 38400 5000");

    console = FakeConsole();
    lib->status_steps = {status(2), status(3)};
    EXPECT_EQ(run({"--status"}), kExitOk);
    EXPECT_EQ(console.outs, QStringList{"Device is cooling down."});
    console = FakeConsole();
    EXPECT_EQ(run({"--status"}), kExitDeviceFailed);
    EXPECT_EQ(console.lines, QStringList{"Unexpected status code from device (2) 0"});
    EXPECT_TRUE(console.outs.isEmpty());

    console = FakeConsole();
    lib->info_steps = {failing(kTimeout)};
    EXPECT_EQ(run({"--find"}), kExitDeviceFailed);
    EXPECT_EQ(console.lines.last(), "Unable to find any devices connect to this computer.");
    EXPECT_TRUE(console.outs.isEmpty());
}

TEST_F(Commands, ListPortsPrintsThePortsFoundAndThePortMap) {
    settings.set("Ports", "COM2", " rfc2217://10.0.0.5:2001 ");
    settings.set("Ports", "COM4", "/dev/ttyUSB0");
    const QStringList map{"[Ports]", "COM1\t/dev/ttyS0\tdefault", "COM2\trfc2217://10.0.0.5:2001",
                          "COM3\t/dev/ttyS2\tdefault", "COM4\t/dev/ttyUSB0"};
    const struct {
        const char* name;
        std::vector<PortInfo> found;
        QStringList lines;
    } cases[] = {
        {"none found", {}, QStringList{"No serial port found on this machine."} + map},
        {"an adapter and a UART",
         {test::usb_adapter(), test::onboard_uart()},
         QStringList{"/dev/serial/by-id/usb-Maker_USB_Serial_A10K3XZ-if00-port0\tUSB Serial\tMaker\tA10K3XZ\t0403:6001",
                     "/dev/ttyS0\t-\t-\t-\t-"} + map},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        console = FakeConsole();
        ports.found = c.found;
        EXPECT_EQ(run({"--list-ports"}), kExitOk);
        EXPECT_EQ(console.outs, c.lines);
        EXPECT_TRUE(console.lines.isEmpty());
        EXPECT_TRUE(lib->calls.empty());  // no port is opened
    }
    EXPECT_FALSE(settings.contains("Ports", "COM1"));  // nothing written
}

}  // namespace
}  // namespace halvern::cli
