// The run journal: the lines each kind of run leaves, read with a JSON
// parser; concurrent runs; a journal that cannot be written; card data.
#include <nlohmann/json.hpp>

#include <cstdio>
#include <ctime>
#include <functional>
#include <set>

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>
#endif

#include "e2e/e2e_fixture.h"
#include "paylib/record.h"

using nlohmann::json;

class Journal : public EndToEnd {
protected:
    fs::path journal;

    void SetUp() override
    {
        EndToEnd::SetUp();
        journal = base / "journal";
        fs::create_directories(journal);
        SetSetting("JournalPath", journal.string() + '\0');
    }

    static std::string TodaysFile()
    {
        std::time_t now = std::time(nullptr);
        char name[32];
        std::strftime(name, sizeof name, "brennick-%Y%m%d.jsonl", std::localtime(&now));
        return name;
    }

    std::string RawJournal() const
    {
        std::string all;
        for (const auto& e : fs::directory_iterator(journal)) all += Read(e.path());
        return all;
    }

    // The journal less what a run names by itself (its time, id, process id,
    // duration, library and files): a test folder's random name or a
    // process id may hold any digits, and only the rest may carry a card's.
    std::string RawJournalLessOwnNames() const
    {
        std::string raw = RawJournal();
        for (const json& line : Lines()) {
            std::vector<std::string> own = {line["time"].dump(), line["run"].dump(), "\"pid\":" + line["pid"].dump()};
            if (line.contains("ms")) own.push_back("\"ms\":" + line["ms"].dump());
            if (line.contains("library")) own.push_back(line["library"].dump());
            for (const json& file : line.value("files", json::array())) own.push_back(file.dump());
            const json written = line.value("written", json::object());
            for (const auto& file : written.items()) own.push_back(json(file.key()).dump());
            for (const std::string& name : own)
                for (std::size_t at; (at = raw.find(name)) != std::string::npos;) raw.erase(at, name.size());
        }
        return raw;
    }

    // Every line of every journal file; a line that does not parse fails.
    std::vector<json> Lines() const
    {
        std::vector<json> lines;
        std::istringstream in(RawJournal());
        for (std::string line; std::getline(in, line);) {
            json j = json::parse(line, nullptr, false);
            EXPECT_FALSE(j.is_discarded()) << line;
            lines.push_back(j);
        }
        return lines;
    }
};

TEST_F(Journal, EveryKindOfRunLeavesItsLines)
{
    struct Case {
        const char* outcome;
        long exitCode;
        std::string text;
        std::function<void()> prepare;
        const char* box;   // nullptr: none; "" : any
    };
    const std::vector<Case> cases = {
        {"usage", 0, "", [] {}, nullptr},
        {"no-operation", -1, "/a1", [] {}, "No operation defined"},
        {"library-not-loaded", 2, "/o1",
         [this] { SetSetting("LocationPath", (base / "none.lib").string() + '\0'); },
         "Unable to load library!"},
        {"entry-point-missing", 2, "/o1", [this] { UseLibrary("no_ow"); },
         "Unable to load ProcessOw function! 7f (127)"},
        {"invalid-instance-id", 2, "/o1 /quarnid*", [] {}, "Invalid instance id!"},
        {"entry-point-missing", 2, "/o1 /quarnid3", [this] { UseLibrary("no_id"); },
         "Unable to load ProcessOwId function! 7f (127)"},
        {"files-not-created", 2, "/o1",
         [this] { SetSetting("ExchangePath", (base / "absent").string() + '\0'); }, ""},
        {"library-fault", 4, "/o1 /a5", [] { SetEnv("BRENNICK_FIXTURE_FAULT", "crash"); }, nullptr},
        {"ambiguous-command-line", 2, "/o1 /bX/a5", [] {}, "Switch /a inside the value of /b!"},
        {"setting-unreadable", 2, "/o1",
         [this] { SetSetting("ExchangePath", std::string(300, 'x')); }, ""},
    };
    for (const Case& c : cases) {
        ResetSettings();
        UseLibrary("full");
        SetSetting("ExchangePath", exchange.string() + '\0');
        SetSetting("JournalPath", journal.string() + '\0');
        fs::remove_all(journal);
        fs::create_directories(journal);
        c.prepare();
        RunResult r = Run(c.text);
        UnsetEnv("BRENNICK_FIXTURE_FAULT");

        std::vector<json> lines = Lines();
        bool called = c.exitCode == 4;
        ASSERT_EQ(lines.size(), called ? 2u : 1u) << c.outcome;
        const json& end = lines.back();
        EXPECT_EQ(end["event"], "end") << c.outcome;
        EXPECT_EQ(end["outcome"], c.outcome);
        EXPECT_EQ(end["exit"], c.exitCode) << c.outcome;
        EXPECT_EQ(static_cast<long>(static_cast<int>(r.exitCode)),
                  kWindows ? c.exitCode : (c.exitCode & 255)) << c.outcome;
        EXPECT_EQ(end.contains("box"), c.box != nullptr) << c.outcome;
        if (c.box != nullptr && *c.box != '\0') {
            EXPECT_EQ(end["box"], c.box);
        }
        // The loader's and the file system's own words stand behind their boxes.
        std::string outcome = c.outcome;
        bool error = outcome == "library-not-loaded" || outcome == "entry-point-missing" ||
                     outcome == "files-not-created" || outcome == "setting-unreadable";
        EXPECT_EQ(end.contains("error"), error) << outcome;
        if (error) {
            EXPECT_FALSE(end["error"]["detail"].get<std::string>().empty()) << outcome;
        }
        if (called) {
            EXPECT_EQ(lines[0]["event"], "call");
            EXPECT_EQ(lines[0]["pid"], end["pid"]);
            EXPECT_TRUE(end.contains("fault") && end.contains("ms") && !end.contains("returned"));
        }
    }
}

TEST_F(Journal, CompletedRunTellsTheCallAndTheAnswerWithoutCardData)
{
    SetEnv("BRENNICK_FIXTURE_RETURN", "7");
    // The call line stands in the journal while the library works.
    SetTestEnv("BRENNICK_FIXTURE_PEEK", (journal / TodaysFile()).string());
    Answer(offsetof(UserAuthInt, responseCode), "00");
    Answer(offsetof(UserAuthInt, pan), "4000123456789010");
    Answer(offsetof(UserAuthInt, text_msg), "APPROVED\\\n\xe9");
    RunResult r = Run("/o1 /a000221 /c643 /t;4000123456789010=2812? /eSECRETDATA /bX\\/tCARD /quarnid5");
    UnsetEnv("BRENNICK_FIXTURE_RETURN");
    EXPECT_EQ(r.exitCode, 0u);
    json during = json::parse(Read(libraryLog / "peek.bin"), nullptr, false);
    EXPECT_EQ(during.is_discarded() ? json() : during["event"], "call");

    std::vector<json> lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    const json& call = lines[0];
    EXPECT_EQ(call["instance"], "5");
    EXPECT_EQ(call["version"], "1.0.0");
    EXPECT_EQ(call["args"], "/o1 /a000221 /c643 /t*********************** /e********** /bX\\/t**** /quarnid5");
    EXPECT_EQ(call["library"], FixtureLibrary("full"));
    EXPECT_EQ(call["files"][1], (exchange / "output_ex.dat-5").string());
    const json& end = lines[1];
    EXPECT_EQ(end["outcome"], "completed");
    EXPECT_EQ(end["returned"], 7);
    EXPECT_FALSE(end.contains("fault"));
    // The terminal's whole answer, the trace id as the terminal gives it back
    // and the operation among it: what a recovery compares.
    EXPECT_EQ(end["result"], (json{{"RC", "00"}, {"TEXT_MSG", "APPROVED\\\n\u00e9"}, {"AMOUNT", "221"},
                                   {"CURRENCY", "643"}, {"PAN", "400012******9010"},
                                   {"TRACE_ID", "X\\/t****"}, {"OPERATION", "1"}}));
    EXPECT_EQ(end["written"].size(), 3u);
    EXPECT_EQ(end["written"][(exchange / "output.dat").string()], "ok");
    std::string raw = RawJournalLessOwnNames();
    for (const char* secret : {"4000123456789010", "123456789", "SECRETDATA", "CARD", "2812"})
        EXPECT_EQ(raw.find(secret), std::string::npos) << secret;
}

TEST_F(Journal, LibraryThatCallsExitDuringTheCallLeavesItsAnswerAndExitCodeFour)
{
    Answer(offsetof(UserAuthInt, responseCode), "00");
    SetTestEnv("BRENNICK_FIXTURE_FAULT", "exit");
    RunResult r = Run("/o1 /a221");
    EXPECT_EQ(r.exitCode, 4u);
    EXPECT_EQ(Read(exchange / "output_ex.dat"), "RC=00\r\nAMOUNT=221\r\nENC_DATA=");
    std::vector<json> lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1]["outcome"], "library-exit");
    EXPECT_EQ(lines[1]["exit"], 4);
    EXPECT_EQ(lines[1]["fault"], kWindows ? "exit()" : "exit(2)");   // msvcrt does not tell
}

TEST_F(Journal, NothingTheUnloadDoesChangesAFinishedRun)
{
    SetTestEnv("BRENNICK_FIXTURE_UNLOAD", "crash");
    for (const char* how : {"crash", "abort", "exit", "thread"}) {
        fs::remove_all(journal);
        fs::create_directories(journal);
        SetEnv("BRENNICK_FIXTURE_UNLOAD", how);
        RunResult r = Run("/o1 /a221");
        EXPECT_EQ(r.exitCode, 0u) << how;
        EXPECT_EQ(Read(exchange / "output_ex.dat"), "AMOUNT=221\r\nENC_DATA=") << how;
        std::vector<json> lines = Lines();
        ASSERT_EQ(lines.size(), 2u) << how;
        EXPECT_EQ(lines[1]["outcome"], "completed") << how;
    }
}

TEST_F(Journal, LibraryThatOverwritesTheInstanceIdCannotRenameTheLane)
{
    SetTestEnv("BRENNICK_FIXTURE_SCRIBBLE_ID", "1");
    EXPECT_EQ(Run("/o1 /a221 /quarnid3").exitCode, 0u);
    for (const json& line : Lines()) EXPECT_EQ(line["instance"], "3");
    EXPECT_EQ(Read(exchange / "output_ex.dat-3"), "AMOUNT=221\r\nENC_DATA=");
}

TEST_F(Journal, ArgumentTextIsFlaggedOnlyWhenCut)
{
    for (std::size_t size : {2048u, 2049u}) {
        fs::remove_all(journal);
        fs::create_directories(journal);
        std::string text = "/o1 /a5 /b" + std::string(size - 10, 'x');
        ASSERT_EQ(Run(text).exitCode, 0u);
        const json call = Lines().at(0);
        EXPECT_EQ(call["args"], text.substr(0, 2048)) << size;
        EXPECT_EQ(call.contains("args_truncated"), size > 2048) << size;
    }
}

TEST_F(Journal, NoCardDigitsWhereverTheyStand)
{
    Answer(offsetof(UserAuthInt, text_msg), "CARD 4111111111111111 OK");
    Answer(offsetof(UserAuthInt, cardType), "4012-8888-8888-1881");
    Answer(offsetof(UserAuthInt, pan), "4111111111111111=2812101");
    // A blank cuts the card off its switch; the rest is loose text.
    ASSERT_EQ(Run("/o1 /a221 /tM4111 1111 1111 1111=2812? /bINV-4111-1111-1111-1111 /quarnid2").exitCode, 0u);
    std::vector<json> lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["args"], "/o1 /a221 /t***** **** **** ****=****? /bINV-4111-11**-****-1111 /quarnid2");
    EXPECT_EQ(lines[0]["trace"], "INV-4111-11**-****-1111");
    EXPECT_EQ(lines[1]["result"]["TEXT_MSG"], "CARD 411111******1111 OK");
    EXPECT_EQ(lines[1]["result"]["CARD_TYPE"], "4012-88**-****-1881");
    EXPECT_EQ(lines[1]["result"]["PAN"], "411111******1111****");   // the field holds 20
    std::string raw = RawJournalLessOwnNames();
    for (const char* digits : {"1111 1111", "2812", "4111-1111", "111111111", "8888"})
        EXPECT_EQ(raw.find(digits), std::string::npos) << digits;
#ifndef _WIN32
    // The registers' group shares the journal; others see nothing.
    EXPECT_EQ(fs::status(journal / TodaysFile()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::group_write);
#endif
}

// The shortest and the longest card numbers; no shorter window of either
// passes the check, so only the whole number can mask it.
TEST_F(Journal, CardNumbersOfThirteenAndNineteenDigits)
{
    Answer(offsetof(UserAuthInt, text_msg), "CARD 4090054749952525594");
    ASSERT_EQ(Run("/o1 /a221 /b4398259791907").exitCode, 0u);
    std::vector<json> lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["trace"], "439825***1907");
    EXPECT_EQ(lines[1]["result"]["TEXT_MSG"], "CARD 409005*********5594");
}

TEST_F(Journal, LineThatAnOlderRunLeftCutIsEndedFirst)
{
    Write(journal / TodaysFile(), "{\"event\":\"call\",\"ti");
    ASSERT_EQ(Run("/o1 /a5").exitCode, 0u);
    std::istringstream in(RawJournal());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "{\"event\":\"call\",\"ti");
    for (std::size_t i = 1; i < lines.size(); ++i)
        EXPECT_FALSE(json::parse(lines[i], nullptr, false).is_discarded()) << lines[i];
}

TEST_F(Journal, RunsAtTheSameTimeLeaveWholeLines)
{
    std::vector<std::string> texts;
    for (int i = 0; i < (kWindows ? 50 : 200); ++i)
        texts.push_back("/o1 /a" + std::to_string(100 + i) + (i ? " /quarnid" + std::to_string(i) : ""));
    for (unsigned long code : RunProgramsAtOnce(texts, work.string())) EXPECT_EQ(code, 0u);
    std::vector<json> lines = Lines();
    EXPECT_EQ(lines.size(), 2 * texts.size());
    // Each run's two lines share its id, and no two runs share one.
    std::set<std::string> calls, ends;
    for (const json& j : lines) {
        std::string run = j["run"];
        EXPECT_EQ(run.size(), 16u);
        EXPECT_EQ(run.find_first_not_of("0123456789abcdef"), std::string::npos) << run;
        (j["event"] == "call" ? calls : ends).insert(run);
    }
    EXPECT_EQ(calls.size(), texts.size());
    EXPECT_EQ(calls, ends);
}

TEST_F(Journal, JournalThatCannotBeWrittenChangesNothing)
{
    SetSetting("JournalPath", (base / "absent").string() + '\0');
    RunResult r = Run("/o1 /a5");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(r.boxes.empty());
    EXPECT_EQ(Read(exchange / "output.dat"), OutputDatWithAmount("5"));
    EXPECT_FALSE(fs::exists(base / "absent"));
#ifndef _WIN32
    // One line says so; the payment goes on.
    EXPECT_EQ(r.otherDiagnostics.rfind("journal: cannot append to " + (base / "absent" / TodaysFile()).string() +
                                           ": ", 0), 0u) << r.otherDiagnostics;
#endif

    // Today's file, read-only.
    const std::string name = TodaysFile();
    SetSetting("JournalPath", journal.string() + '\0');
    Write(journal / name, "");
    if (!MakeReadOnly((journal / name).string())) GTEST_SKIP() << "no read-only files here";
    r = Run("/o1 /a6");
    MakeWritable((journal / name).string());
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(r.boxes.empty());
    EXPECT_EQ(Read(exchange / "output.dat"), OutputDatWithAmount("6"));
    EXPECT_EQ(Read(journal / name), "");
}

#if !defined(_WIN32) && !defined(BRENNICK_SANITIZED)
TEST_F(Journal, FailedFlushBeforeTheCallStopsTheRun)
{
    const std::string dat = (exchange / "output.dat").string();
    const std::string journalFile = (journal / TodaysFile()).string();
    SetTestEnv("LD_PRELOAD", ProgramDirectory() + "/failing_flush.so");
    // The emptied result files; the folder's entry of new ones; the call line
    // (the fourth fdatasync, after the three result files).
    for (auto [fail, named] : {std::pair{"fdatasync:EIO", dat}, {"fsync:EIO", dat},
                               {"fdatasync:EIO:4", journalFile}}) {
        fs::remove_all(exchange);
        fs::create_directories(exchange);
        SetTestEnv("BRENNICK_FAIL_FLUSH", fail);
        RunResult r = Run("/o1 /a221 /c643");
        EXPECT_EQ(r.exitCode, 2u) << fail;
        EXPECT_FALSE(LibraryCalled()) << fail;
        ASSERT_EQ(r.boxes.size(), 1u) << fail;
        EXPECT_EQ(r.boxes[0].text, "Unable to write file " + named + "! 5 (5)") << fail;
        EXPECT_EQ(Lines().back()["outcome"], "not-durable") << fail;
    }
    // A file system that cannot flush, before the call or at every flush up
    // to the close: the run goes on, writes its answer and says so.
    for (const char* fail : {"fdatasync:EINVAL", "any:EINVAL"}) {
        SetTestEnv("BRENNICK_FAIL_FLUSH", fail);
        EXPECT_EQ(Run("/o1 /a221 /c643").exitCode, 0u) << fail;
        EXPECT_TRUE(LibraryCalled()) << fail;
        EXPECT_EQ(Lines().back()["outcome"], "completed") << fail;
        EXPECT_EQ(Lines().back()["durable"], false) << fail;
    }
}
#endif

#if !defined(_WIN32) && !defined(BRENNICK_SANITIZED)
TEST_F(Journal, CallLineAndEmptiedFilesAreOnDiskBeforeTheCallAndEachFileBeforeItsClose)
{
    const fs::path log = base / "flushes.txt";
    SetTestEnv("LD_PRELOAD", ProgramDirectory() + "/failing_flush.so");
    SetTestEnv("BRENNICK_FLUSH_LOG", log.string());
    ASSERT_EQ(Run("/o1 /a221").exitCode, 0u);
    const std::string events = Read(log);
    const std::size_t entered = events.find("entered\n");
    ASSERT_NE(entered, std::string::npos) << events;
    EXPECT_LT(events.find("sync " + (journal / TodaysFile()).string() + "\n"), entered) << events;
    for (const char* name : {"output.dat", "output_ex.dat", "output_ex.txt"}) {
        const std::string file = (exchange / name).string() + "\n";
        EXPECT_LT(events.find("sync " + file), entered) << name << "\n" << events;
        std::size_t closed = events.find("close " + file, entered);
        EXPECT_NE(closed, std::string::npos) << name;
        EXPECT_LT(events.find("sync " + file, entered), closed) << name << "\n" << events;
    }
    // A flush that fails after the call: the answer is not known to be kept.
    UnsetEnv("BRENNICK_FLUSH_LOG");
    SetTestEnv("BRENNICK_FAIL_FLUSH", "fsync:EIO");
    EXPECT_EQ(Run("/o1 /a221").exitCode, 3u);
}
#endif

#ifndef _WIN32
// Standard input, output and error are no report channel: a line there
// would mix with a box's words. The run and its files are as without one.
TEST_F(Journal, StandardDescriptorsAreNoReportChannel)
{
    for (const char* fd : {"0", "1", "2"}) {
        SetTestEnv("BRENNICK_REPORT", fd);
        RunResult r = Run("/o1 /a221");
        EXPECT_EQ(r.exitCode, 0u) << fd;
        EXPECT_EQ(r.standardOutput + r.otherDiagnostics, "") << fd;
        EXPECT_EQ(Read(exchange / "output.dat"), OutputDatWithAmount("221")) << fd;
    }
}

// The run id given beside a report channel names the run's lines; without
// a channel, or in another form, it is not taken. A channel that nobody
// reads holds the run a few seconds, no longer.
TEST_F(Journal, GivenRunIdAndAReportChannelThatNobodyReads)
{
    int full[2];
    ASSERT_EQ(::pipe(full), 0);
    ::fcntl(full[1], F_SETFL, O_NONBLOCK);
    const char block[512] = {};
    while (::write(full[1], block, sizeof block) > 0) {
    }
    while (::write(full[1], block, 1) > 0) {
    }
    auto channel = [&full] {
        ::dup2(full[1], 5);
        ::setenv("BRENNICK_REPORT", "5", 1);
    };
    SetTestEnv("BRENNICK_RUN", "00000000000000ab");
    auto began = std::chrono::steady_clock::now();
    RunResult r = RunProgramWithArguments({"/o1 /a221"}, work.string(), channel);
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(15));
    ::close(full[0]);
    ::close(full[1]);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_NE(r.otherDiagnostics.find("report: nobody reads the channel"), std::string::npos) << r.otherDiagnostics;
    EXPECT_EQ(Lines().back()["run"], "00000000000000ab");
    EXPECT_EQ(Lines().back()["outcome"], "completed");
    Run("/o1 /a221");
    EXPECT_NE(Lines().back()["run"], "00000000000000ab");
    ASSERT_EQ(::pipe(full), 0);
    SetTestEnv("BRENNICK_RUN", "00000000000000AB");
    r = RunProgramWithArguments({"/o1 /a221"}, work.string(), channel);
    ::close(full[0]);
    ::close(full[1]);
    EXPECT_NE(Lines().back()["run"], "00000000000000AB");
    EXPECT_NE(r.otherDiagnostics.find("BRENNICK_RUN is not a run id"), std::string::npos);
}

// A background agent that the library starts outlives the run; were the
// channel its too, the reader would wait for the agent, not for the run.
TEST_F(Journal, AHelperTheLibraryStartsDoesNotHoldTheReportChannel)
{
    const fs::path state = base / "state";
    fs::create_directories(state);
    SetSetting("LocationPath", ProgramDirectory() + "/libpaysim.so" + '\0');
    SetTestEnv("PAYSIM_STATE_DIR", state.string());
    SetTestEnv("PAYSIM_HELPER", "60");
    struct EndHelper {
        fs::path pidFile;
        ~EndHelper()
        {
            long pid = std::atol(Read(pidFile).c_str());
            if (pid > 1) ::kill(static_cast<pid_t>(pid), SIGKILL);
        }
    } endHelper{state / "paysim-helper.pid"};
    int report[2];
    ASSERT_EQ(::pipe2(report, O_CLOEXEC), 0);
    char channel[16];
    std::snprintf(channel, sizeof channel, "%d", report[1]);
    // Only the run's copy is inheritable: the one whose keeping is tested.
    RunResult r = RunProgramWithArguments({"/o1 /a221"}, work.string(), [&report, &channel] {
        ::fcntl(report[1], F_SETFD, 0);
        ::setenv("BRENNICK_REPORT", channel, 1);
    });
    ::close(report[1]);
    EXPECT_EQ(r.exitCode, 0u);
    ASSERT_TRUE(fs::exists(endHelper.pidFile)) << r.otherDiagnostics;
    std::string lines;
    char chunk[4096];
    pollfd readable = {report[0], POLLIN, 0};
    ssize_t n = 1;
    while (n > 0 && ::poll(&readable, 1, 10000) == 1) {
        n = ::read(report[0], chunk, sizeof chunk);
        if (n > 0) lines.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(report[0]);
    EXPECT_EQ(n, 0) << "no end of the channel while the helper lives";
    EXPECT_NE(lines.find("\"end\""), std::string::npos) << lines;
}
#endif

TEST_F(EndToEnd, WithoutJournalPathThereIsNoJournal)
{
    EXPECT_EQ(Run("/o1 /a5").exitCode, 0u);
    for (const fs::path& folder : {base, fs::current_path()})
        for (const auto& e : fs::recursive_directory_iterator(folder))
            EXPECT_EQ(e.path().filename().string().rfind("brennick-2", 0), std::string::npos) << e.path();
}

TEST_F(Journal, OnlyUnattendedOneMakesARunUnattended)
{
    for (const char* value : {"0", "yes", ""}) {
        SetSetting("Unattended", std::string(value) + '\0');
        RunResult r = Run("/o1 /quarnid*");
        EXPECT_EQ(r.exitCode, 2u) << value;
        EXPECT_EQ(r.boxes.size(), 1u) << value;   // a box that waits for somebody
    }
    for (const json& line : Lines()) EXPECT_FALSE(line.contains("unattended")) << line.dump();
}
