// The commands of halvern-upload over scripted devices, in the process: the exit status of
// every ending of the upload road, the lines on standard error, questions, the cool-down wait
// and Ctrl-C, for one port and for a fleet.

#include "halvern-upload/Commands.h"
#include "halvern-upload/Interrupt.h"
#include "halvern-upload/TerminalReporter.h"
#include "tests/support/LinkPeer.h"
#include "tests/support/RecordingReporter.h"
#include "tests/support/ReportFile.h"
#include "tests/support/ScriptedPortList.h"
#include "tests/support/ScriptedDeviceLibrary.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <thread>

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

    void line(const QString& text) override {
        flush();
        lines << text;
    }
    void prompt(const QString& text) override {
        flush();
        pending_ = text;
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
            if (!l.contains(QLatin1String("Uploaded "))) out << l;
        return out;
    }

private:
    void flush() {
        if (pending_) lines << *pending_;
        pending_.reset();
    }
    std::optional<QString> pending_;
};

// A projector on each port name, scripted, with its side of the upload link.
struct Device {
    std::unique_ptr<ScriptedDeviceLibrary> lib = std::make_unique<ScriptedDeviceLibrary>();
    std::unique_ptr<LinkPeer> peer = std::make_unique<LinkPeer>(*lib);
};

// The library of one port: the device of the port name it opens.
class ToDevice : public DeviceLibrary {
public:
    explicit ToDevice(std::map<QString, Device>& devices) : devices_(devices) {}
    std::int32_t init_port_timeouts(std::int32_t& h, const char* p, std::int32_t b, std::int32_t t) override {
        in_ = devices_.at(QString::fromLatin1(p)).lib.get();
        return in_->init_port_timeouts(h, p, b, t);
    }
    std::int32_t close_port(std::int32_t h) override { return in_->close_port(h); }
    std::int32_t query_upload_status(std::int32_t h, DeviceReply& r) override { return in_->query_upload_status(h, r); }
    std::int32_t request_standby_mode(std::int32_t h, DeviceReply& r) override { return in_->request_standby_mode(h, r); }
    std::int32_t request_upload_mode(std::int32_t h, DeviceReply& r) override { return in_->request_upload_mode(h, r); }
    std::int32_t get_proj_info(std::int32_t h, DeviceReply& r) override { return in_->get_proj_info(h, r); }
    std::int32_t send_data(std::int32_t h, std::span<const std::uint8_t> f, std::int32_t& o) override {
        return in_->send_data(h, f, o);
    }
    std::int32_t get_data(std::int32_t h, std::span<std::uint8_t> b, std::int32_t& o) override {
        return in_->get_data(h, b, o);
    }

private:
    std::map<QString, Device>& devices_;
    ScriptedDeviceLibrary* in_ = nullptr;
};

ScriptedDeviceLibrary::Step status(std::uint8_t value, int bcd_high = 0, int bcd_low = 0, std::function<void()> also = {}) {
    return ScriptedDeviceLibrary::status(value, kOk, bcd_high, bcd_low, std::move(also));
}
ScriptedDeviceLibrary::Step failing(std::int32_t result) { return {result, {}}; }
const ScriptedDeviceLibrary::Step kIdentity{kOk, [](DeviceReply& r) {
                                                const char text[] = "PJ-900\0X  0105";
                                                std::copy(text, text + 10, r.begin() + 19);
                                                std::copy(text + 10, text + 14, r.begin() + 35);
                                            }};

const QString kConfirm = "Are you sure you want to upload version 01.05 to the Orvelle device selected? [y/N] ";
const QString kPowerOff = "Device must be powered off to enter upload mode.  Is it ok to turn device off? [y/N] ";
const QString kStopPrompt = kStopQuestion + " [y/N] ";
const QString kSearching = "Searching for devices...";
const QString kStarting = "Starting upload...";
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
                            return std::make_unique<ToDevice>(devices);
                        },
                        &ports, Clock{[] { return QTime(12, 0, 0); }, [] { return std::int64_t{0}; }}};
        return run_cli(arguments, env);
    }
    // An upload of DEMO.PJV on COM1, with the given options in front.
    int upload(QStringList options) {
        options << "--port" << "COM1" << "--dir" << rel() << "DEMO.PJV";
        return run(options);
    }
    // A fresh projector on the port, in standby, that accepts upload mode.
    ScriptedDeviceLibrary& standby_device(const QString& port = "COM1") {
        devices.erase(port);
        ScriptedDeviceLibrary& l = *devices[port].lib;
        l.status_steps = {status(0), status(0), status(0)};
        l.upload_mode_steps = {status(1)};
        l.info_steps = {kIdentity};
        return l;
    }
    ScriptedDeviceLibrary& lib(const QString& port = "COM1") { return *devices.at(port).lib; }
    LinkPeer& peer(const QString& port = "COM1") { return *devices.at(port).peer; }

    // The ports' lines of the --report file.
    std::map<QString, QJsonObject> report() const {
        auto lines = test::report_by_port(dir.filePath("report.jsonl"));
        lines.erase("");  // the fleet's questions
        return lines;
    }
    // The plain lines of one port of a fleet, without port, time and progress lines.
    QStringList lines_of(const QString& port) const {
        QStringList out;
        for (const QString& l : console.messages())
            if (l.startsWith(port + " 12:00:00 ")) out << l.mid(port.size() + 10);
        return out;
    }

    QTemporaryDir dir;
    std::map<QString, Device> devices;
    FakeConsole console;
    SettingsStore settings{dir.filePath("user.ini")};
    test::ScriptedPortList ports;
};

// Without a terminal or --yes the confirmation is No; on the terminal the answer is read
// until it is one.
TEST_F(Commands, QuestionsAnsweredNo) {
    standby_device();
    EXPECT_EQ(upload({}), kExitDeclined);
    EXPECT_EQ(console.lines, QStringList{kConfirm + "n"});
    EXPECT_TRUE(lib().calls.empty());

    console = FakeConsole();
    standby_device().status_steps = {status(1)};
    console.input_terminal = true;
    console.typed = {"Y", "maybe", "no"};
    EXPECT_EQ(upload({}), kExitDeclined);
    EXPECT_EQ(console.lines, (QStringList{kConfirm + "y", kStarting, kPowerOff + "maybe", kPowerOff + "no"}));
    EXPECT_EQ(lib().calls, (std::vector<std::string>{"open COM1 38400 30000", "query_upload_status", "close 100"}));
}

TEST_F(Commands, CtrlCDuringThePauseBeforeTheFirstMessage) {
    // Ctrl-C comes as the projector enters upload mode; the pause before the first message
    // asks, and a confirmed stop fails that message without sending anything.
    standby_device().upload_mode_steps = {status(1, 0, 0, [] { interrupt::raise_flag(); })};
    console.input_terminal = true;
    console.typed = {"y", "y"};
    EXPECT_EQ(upload({}), kExitTransferFailed);
    EXPECT_EQ(console.messages(), (QStringList{kConfirm + "y", kStarting, kStopPrompt + "y",
                                               "Unable to transmit command to device.",
                                               "Error initiating upload mode of device.", kFailure}));
    EXPECT_TRUE(peer().codes().empty());
    EXPECT_EQ(lib().opens, lib().closes);
}

TEST_F(Commands, CtrlCDuringTheCoolDownCancelsIt) {
    // Ctrl-C comes while the wait's first query runs: the wait ends before its first tick.
    standby_device().status_steps = {status(2), status(2), status(2, 0x01, 0x80, [] { interrupt::raise_flag(); })};
    EXPECT_EQ(upload({"--yes"}), kExitCoolDownCancelled);
    EXPECT_EQ(console.lines, (QStringList{kConfirm + "y", kStarting, kCoolText, "Remaining Time: 3 min 0 s",
                                          "User canceled device cool down."}));
    EXPECT_EQ(std::count(lib().calls.begin(), lib().calls.end(), "query_upload_status"), 3);
    EXPECT_EQ(lib().opens, lib().closes);
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
        console = FakeConsole();
        console.input_terminal = c.terminal;
        if (c.terminal) console.typed = {c.typed};
        ScriptedDeviceLibrary& l = standby_device();
        bool pressed = false;
        l.on_send = [&, peer_side = l.on_send](ScriptedDeviceLibrary& s, const ScriptedDeviceLibrary::Frame& f) {
            peer_side(s, f);
            if (!pressed && !peer().messages.empty() && peer().messages.back().code == 9) {
                pressed = true;
                interrupt::raise_flag();
            }
        };
        EXPECT_EQ(upload(c.options), c.code);
        EXPECT_EQ(console.messages(), c.messages);
        EXPECT_EQ(l.opens, 1);
        EXPECT_EQ(l.closes, 1);
        // A confirmed stop sends nothing after the flash it came in.
        if (c.code != kExitOk) {
            EXPECT_EQ(peer().codes(), (std::vector<int>{1, 3, 5, 7, 9}));
        }
    }
}

TEST_F(Commands, ProgressLinesEveryTenthWhenNotATerminal) {
    standby_device();
    EXPECT_EQ(upload({"--emergency"}), kExitOk);
    QStringList percents;
    for (const QString& l : console.lines)
        if (l.startsWith(QLatin1String("Uploaded "))) percents << l.mid(9, 4).trimmed();
    // BOOT, MAIN and DATA: 3, 4 and 1 blocks of 16364 bytes over a total of 83,730 bytes.
    EXPECT_EQ(percents, (QStringList{"19%", "39%", "58%", "78%", "97%", "100%"}));
    EXPECT_EQ(console.lines.last(), kSuccess);
}

// The settings store gives the defaults; options override it. (That the user's settings are
// only read is checked after every test of the program itself, test_against_sim.cpp.)
TEST_F(Commands, SettingsGiveTheDefaultsAndOptionsOverrideThem) {
    for (const char* f : {"DEMO.PJV", "BOOT.mot", "MAIN.mot", "DATA.mot"}) QFile::copy(rel() + '/' + f, dir.filePath(f));
    standby_device();
    EXPECT_EQ(run({"--yes", "demo.pjv"}), kExitOk);  // in the program's directory
    EXPECT_EQ(lib().calls.front(), "open COM1 38400 30000");

    settings.set_startup("Port", "COM3");
    settings.set_startup("Baud Rate", "19200");
    settings.set_startup("Working Directory", rel());
    standby_device("COM3");
    standby_device("/dev/ttyX");
    EXPECT_EQ(run({"--yes", "DEMO.PJV"}), kExitOk);
    EXPECT_EQ(lib("COM3").calls.front(), "open COM3 19200 30000");
    EXPECT_EQ(run({"--yes", "--port", "/dev/ttyX", "--baud", "9600", "--test-read-timeout-ms", "700", "DEMO.PJV"}),
              kExitOk);
    EXPECT_EQ(lib("/dev/ttyX").calls.front(), "open /dev/ttyX 9600 700");
}

TEST_F(Commands, BadArgumentsTouchNoDevice) {
    standby_device();
    const struct {
        QStringList arguments;
        QString last_line;
    } cases[] = {
        {{"--dir", rel(), "NONE.PJV"}, "halvern-upload: no release file NONE.PJV in " + rel()},
        {{dir.filePath("elsewhere/DEMO.PJV")}, "halvern-upload: no release file " + dir.filePath("elsewhere/DEMO.PJV")},
        {{"--port", "/dev/null", "--port", "/dev/../dev/null", "--dir", rel(), "DEMO.PJV"},
         "halvern-upload: /dev/null and /dev/../dev/null name the same device /dev/null"},
        {{"--bogus"}, "Try 'halvern-upload --help'."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.last_line.toStdString());
        console = FakeConsole();
        EXPECT_EQ(run(c.arguments), kExitBadArguments);
        EXPECT_EQ(console.lines.last(), c.last_line);
    }
    EXPECT_TRUE(console.lines.first().startsWith(QLatin1String("halvern-upload: unknown option --bogus")));
    EXPECT_TRUE(lib().calls.empty());
}

TEST_F(Commands, CheckRefusesADamagedRecordBeforeAnyPort) {
    standby_device();
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
    // --check prints a line for each file read; an upload runs the same check before its port opens.
    for (const QStringList& options : {QStringList{"--check"}, QStringList{"--yes"}, QStringList{"--emergency"}}) {
        console = FakeConsole();
        EXPECT_EQ(run(options + QStringList{"--dir", rel(), "DEMO.PJV"}), kExitBadArguments);
        EXPECT_EQ(console.lines, chain);
        EXPECT_EQ(console.outs.size(), options.first() == "--check" ? 1 : 0);
    }
    EXPECT_TRUE(lib().calls.empty());
}

// A release that passed its check but cannot be read once the projector is in upload mode (a
// file removed meanwhile) is a bad release all the same: exit 2, and nothing is sent.
TEST_F(Commands, AReleaseThatChangesAfterItsCheckIsRefusedBeforeTheTransfer) {
    standby_device().upload_mode_steps = {status(1, 0, 0, [this] { QFile::remove(rel() + "/MAIN.mot"); })};
    EXPECT_EQ(upload({"--yes"}), kExitBadArguments);
    EXPECT_EQ(console.lines, (QStringList{kConfirm + "y", kStarting,
                                          "Motorola file MAIN.MOT is missing.  Unable to continue processing.",
                                          "Unable to read select version control file."}));
    EXPECT_TRUE(peer().codes().empty());
    EXPECT_EQ(lib().opens, lib().closes);
}

TEST_F(Commands, FindStatusAndListPrintTheirResults) {
    standby_device().status_steps = {status(2), status(3)};
    EXPECT_EQ(run({"--find"}), kExitOk);
    EXPECT_EQ(console.outs, (QStringList{"Model: PJ-900X", "O/S Version: 01.05"}));
    EXPECT_EQ(console.lines, QStringList{kSearching});
    EXPECT_EQ(lib().calls.front(), "open COM1 38400 5000");

    console = FakeConsole();
    EXPECT_EQ(run({"--status"}), kExitOk);
    EXPECT_EQ(console.outs, QStringList{"Device is cooling down."});
    console = FakeConsole();
    EXPECT_EQ(run({"--status"}), kExitDeviceFailed);
    EXPECT_EQ(console.lines, QStringList{"Unexpected status code from device (2) 0"});
    EXPECT_TRUE(console.outs.isEmpty());

    console = FakeConsole();
    lib().info_steps = {failing(kTimeout)};
    EXPECT_EQ(run({"--find"}), kExitDeviceFailed);
    EXPECT_EQ(console.lines.last(), "Unable to find any devices connect to this computer.");
    EXPECT_TRUE(console.outs.isEmpty());

    console = FakeConsole();
    QFile::copy(rel() + "/SMALL.PJV", rel() + "/a.pjv");
    EXPECT_EQ(run({"--list", "--dir", rel()}), kExitOk);
    EXPECT_EQ(console.outs, (QStringList{"Small Release\t02.00\ta.pjv", "Demo Release\t01.05\tDEMO.PJV",
                                         "Small Release\t02.00\tSMALL.PJV"}));
    EXPECT_EQ(run({"--list", "--dir", dir.filePath("none")}), kExitBadArguments);
}

// One port with --report keeps the form of the buttons and adds its line; --find then asks
// the power state too.
TEST_F(Commands, OnePortWithAReportAddsItsLine) {
    standby_device().status_steps = {status(2)};
    EXPECT_EQ(run({"--find", "--report", dir.filePath("report.jsonl")}), kExitOk);
    EXPECT_EQ(console.outs, (QStringList{"Model: PJ-900X", "O/S Version: 01.05"}));
    const QJsonObject line = report().at("COM1");
    EXPECT_EQ(line["outcome"].toString() + " " + line["power"].toString(), "found cooling");
    EXPECT_EQ(test::messages_of(line), (QStringList{kSearching, "Device is cooling down."}));
}

TEST_F(Commands, ListPortsPrintsThePortsFoundAndThePortMap) {
    settings.set("Ports", "COM2", " rfc2217://10.0.0.5:2001 ");
    ports.found = {test::usb_adapter(), test::onboard_uart()};
    EXPECT_EQ(run({"--list-ports"}), kExitOk);
    EXPECT_EQ(console.outs,
              (QStringList{"/dev/serial/by-id/usb-Maker_USB_Serial_A10K3XZ-if00-port0\tUSB Serial\tMaker\tA10K3XZ\t0403:6001",
                           "/dev/ttyS0\t-\t-\t-\t-", "[Ports]", "COM1\t/dev/ttyS0\tdefault", "COM2\trfc2217://10.0.0.5:2001",
                           "COM3\t/dev/ttyS2\tdefault", "COM4\t/dev/ttyS3\tdefault"}));
    EXPECT_FALSE(settings.contains("Ports", "COM1"));  // nothing written
}

// Several ports: each runs the road of a single port after a device search, on a thread of
// its own; without a terminal every line is prefixed with its port and the time.
TEST_F(Commands, AFleetInEveryStateIsUploadedAndEachFailureKeepsItsOwnChain) {
    standby_device("COM1").status_steps = {status(1), status(2), status(2, 0x00, 0x15), status(0), status(0)};
    standby_device("COM2").status_steps = {status(2), status(2), status(2, 0x00, 0x05), status(0), status(0)};
    standby_device("COM3");
    standby_device("COM4").info_steps = {failing(kTimeout)};
    standby_device("/dev/ttyUSB0").status_steps = {status(1)};
    lib("/dev/ttyUSB0").standby_steps = {failing(kTimeout)};
    standby_device("/dev/ttyUSB1");
    peer("/dev/ttyUSB1").silent_codes = {9};
    standby_device("/dev/ttyUSB2").open_results = {kPortNotFound};
    const QStringList names{"COM1", "COM2", "COM3", "COM4", "/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2"};
    QStringList arguments{"--yes", "--test-poll-interval-ms", "1", "--report", dir.filePath("report.jsonl")};
    for (const QString& name : names) arguments << "--port" << name;
    EXPECT_EQ(run(arguments << "--dir" << rel() << "DEMO.PJV"), kExitFleetIncomplete);

    const QStringList flash_failure = {"Unable to receive acknowledgement of flash to ROM.", "Unable to flash to ROM.",
                                       "Error sending frame 1 of BOOT.mot file.", "Error uploading BOOT.mot", kFailure};
    const struct {
        QString port;
        QString outcome;
        int exit;
        QStringList messages;
    } expected[] = {
        {"COM1", "uploaded", 0,
         {kSearching, kStarting, kCoolText, "Remaining Time: 0 min 15 s", kSuccess}},
        {"COM2", "uploaded", 0, {kSearching, kStarting, kCoolText, "Remaining Time: 0 min 5 s", kSuccess}},
        {"COM3", "uploaded", 0, {kSearching, kStarting, kSuccess}},
        {"COM4", "device-error", 4, {kSearching, "Unable to find any devices connect to this computer."}},
        {"/dev/ttyUSB0", "device-error", 4, {kSearching, kStarting, "Unable to turn device off."}},
        {"/dev/ttyUSB1", "failed", 6, QStringList{kSearching, kStarting} + flash_failure},
        {"/dev/ttyUSB2", "port-error", 3, {kSearching, "Unable to connect to serial port."}},
    };
    const auto lines = report();
    ASSERT_EQ(lines.size(), 7u);
    for (const auto& e : expected) {
        SCOPED_TRACE(e.port.toStdString());
        const QJsonObject& line = lines.at(e.port);
        EXPECT_EQ(line["outcome"].toString(), e.outcome);
        EXPECT_EQ(line["exit"].toInt(), e.exit);
        EXPECT_EQ(line["model"].toString(), e.port == "COM4" || e.port == "/dev/ttyUSB2" ? "" : "PJ-900X");
        // The cool-down lines are on standard error only.
        QStringList reported = e.messages;
        reported.removeIf([](const QString& m) { return m == kCoolText || m.startsWith("Remaining Time:"); });
        EXPECT_EQ(test::messages_of(line), reported);
        EXPECT_EQ(lines_of(e.port), e.messages);
        EXPECT_EQ(lib(e.port).opens, lib(e.port).closes);
    }
    EXPECT_EQ(console.lines.first(), "Upload version 01.05 to 7 projectors? [y/N] y");
    EXPECT_EQ(console.outs.size(), 8);
    EXPECT_EQ(console.outs.value(7).simplified(), "/dev/ttyUSB2 - - port-error 0:00");
}

TEST_F(Commands, AFleetAnswersItsQuestionsOnceForEveryPort) {
    for (const QString& port : {"COM1", "COM2"}) standby_device(port).status_steps = {status(1)};
    const QStringList fleet{"--port", "COM1", "--port", "COM2", "--dir", rel(), "--report", dir.filePath("report.jsonl"),
                            "DEMO.PJV"};
    // No terminal and no --yes: the confirmation is answered No for the fleet.
    EXPECT_EQ(run(fleet), kExitDeclined);
    EXPECT_EQ(console.lines, QStringList{"Upload version 01.05 to 2 projectors? [y/N] n"});
    for (const auto& [port, line] : report()) {
        EXPECT_EQ(line["outcome"].toString(), "declined");
        EXPECT_EQ(line["exit"].toInt(), 7);
        EXPECT_TRUE(lib(port).calls.empty());
    }
    // On the terminal: Yes, then No to switching both projectors off; neither is switched off.
    console = FakeConsole();
    console.input_terminal = true;
    console.typed = {"y", "n"};
    EXPECT_EQ(run(fleet), kExitFleetIncomplete);
    EXPECT_EQ(console.lines.first(), "Upload version 01.05 to 2 projectors? [y/N] y");
    EXPECT_EQ(console.lines.filter(QRegularExpression("^2 projectors")),
              QStringList{"2 projectors must be powered off to enter upload mode. Is it ok to turn them off? [y/N] n"});
    for (const auto& [port, line] : report()) {
        EXPECT_EQ(line["outcome"].toString(), "declined");
        EXPECT_EQ(test::messages_of(line), (QStringList{kSearching, kStarting}));
        EXPECT_EQ(std::count(lib(port).calls.begin(), lib(port).calls.end(), "request_standby_mode"), 0);
    }
}

// Ctrl-C once for the fleet: before any transfer it stops every port at once (a cool-down
// wait is cancelled); during one it asks first, and without a terminal the answer is No.
TEST_F(Commands, CtrlCStopsAFleetBeforeItsTransfersAndAsksDuringThem) {
    std::atomic<int> waiting{0};
    const auto both_waiting = [&waiting] {
        if (++waiting == 2) interrupt::raise_flag();
    };
    for (const QString& port : {"COM1", "COM2"})
        standby_device(port).status_steps = {status(2), status(2, 0x01, 0x00, both_waiting)};
    const QStringList fleet{"--yes", "--port", "COM1", "--port", "COM2", "--dir", rel(), "--report",
                            dir.filePath("report.jsonl")};
    EXPECT_EQ(run(fleet + QStringList{"--test-poll-interval-ms", "60000", "DEMO.PJV"}), kExitFleetIncomplete);
    EXPECT_TRUE(console.lines.filter("Stop now?").isEmpty());
    for (const auto& [port, line] : report()) {
        EXPECT_EQ(line["outcome"].toString(), "stopped");
        EXPECT_EQ(line["exit"].toInt(), 9);
        EXPECT_EQ(test::messages_of(line).last(), "User canceled device cool down.");
    }

    no_interrupt();
    console = FakeConsole();
    for (const QString& port : {"COM1", "COM2"}) standby_device(port);
    lib("COM1").on_send = [peer_side = lib("COM1").on_send](ScriptedDeviceLibrary& l, const ScriptedDeviceLibrary::Frame& f) {
        if (l.sent_frames.size() == 1) {
            interrupt::raise_flag();
            // The transfer goes on once the fleet has taken the Ctrl-C.
            while (interrupt::pending()) std::this_thread::yield();
        }
        peer_side(l, f);
    };
    EXPECT_EQ(run(fleet + QStringList{"--emergency", "DEMO.PJV"}), kExitOk);
    EXPECT_EQ(console.lines.filter("Stop now?"), QStringList{kStopPrompt + "n"});
    EXPECT_EQ(console.lines.filter(kSuccess).size(), 2);
}

// -q: only questions, failures and the summary; -v: every step and retry too, with its time.
// The first frame each projector sends is lost, so that one frame goes out again.
TEST_F(Commands, QuietAndVerboseChangeWhatReachesTheTerminal) {
    const QString retry = "begin frame sent again (transmission 2)";
    const struct {
        QString option;
        QStringList ports;
        QStringList lines;  // single port: standard error; fleet: COM2's plain lines
        QString not_without;  // a line that -q leaves out and only -v shows
    } cases[] = {
        {"-q", {"COM1"}, {kConfirm + "y", kSuccess}, {}},
        {"-v", {"COM1"}, {}, "12:00:00.000 " + retry},
        {"-q", {"COM1", "COM2"}, {}, {}},
        {"-v", {"COM1", "COM2"}, {}, "identifying"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE((c.option + ' ' + c.ports.join(' ')).toStdString());
        console = FakeConsole();
        QStringList arguments{"--yes", c.option, "--dir", rel(), "DEMO.PJV"};
        for (const QString& port : c.ports) {
            ScriptedDeviceLibrary& l = standby_device(port);
            l.on_send = [peer_side = l.on_send](ScriptedDeviceLibrary& s, const ScriptedDeviceLibrary::Frame& f) {
                if (s.sent_frames.size() > 1) peer_side(s, f);
            };
            arguments << "-p" << port;
        }
        EXPECT_EQ(run(arguments), kExitOk);
        const QStringList lines = c.ports.size() == 1 ? console.lines : lines_of("COM2");
        if (c.option == "-q") EXPECT_EQ(lines, c.lines);
        else EXPECT_TRUE(lines.contains(c.not_without) && lines.contains(c.ports.size() == 1 ? kStarting : retry));
        EXPECT_EQ(console.outs.size(), c.ports.size() == 1 ? 0 : 3);  // the fleet's summary
    }
}

// --log-dir: one file per port, every line with its time, made before any port is touched.
TEST_F(Commands, TheLogsOfARun) {
    standby_device("COM1");
    standby_device("/dev/ttyUSB0");
    const QStringList fleet{"-q", "-y", "-p", "COM1", "-p", "/dev/ttyUSB0", "-d", rel(), "DEMO.PJV"};
    EXPECT_EQ(run(fleet + QStringList{"--log-dir", dir.filePath("rel/DEMO.PJV/logs")}), kExitReportFailed);
    EXPECT_TRUE(lib("COM1").calls.empty());
    EXPECT_EQ(run(fleet + QStringList{"--log-dir", dir.filePath("logs/day")}), kExitOk);
    const QStringList names = QDir(dir.filePath("logs/day")).entryList(QDir::Files);
    ASSERT_EQ(names.size(), 2);
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_TRUE(QRegularExpression("^[0-9]{8}-[0-9]{6}-(COM1|_dev_ttyUSB0)-[0-9a-f]{8}\\.log$").match(name).hasMatch());
        QFile file(dir.filePath("logs/day/" + name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
        for (const QString& line : lines) EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} ").match(line).hasMatch());
        EXPECT_TRUE(lines.last().endsWith("done"));
        EXPECT_FALSE(lines.filter("status query: result 0, device status 0").isEmpty());
    }
}

}  // namespace
}  // namespace halvern::cli
