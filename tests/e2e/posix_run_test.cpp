// What only the POSIX build has: separate argument words, the dynamic
// loader's binding, the registry folder's default place, and faults that
// arrive as signals or foreign throws.
#include <sched.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <atomic>
#include <thread>
#include <csignal>
#include <cstdlib>

#include "e2e/e2e_fixture.h"
#include "paylib/record.h"

namespace {
const std::vector<std::string> kResultFiles = {"output.dat", "output_ex.dat", "output_ex.txt"};
}

TEST_F(EndToEnd, SeparateArgumentsAreJoinedWithSingleBlanks)
{
    Run("/o1 /a221 /c643 /quarnid4");
    std::string asOne = Received();
    std::string callAsOne = CallLine();
    fs::remove_all(libraryLog);
    fs::create_directories(libraryLog);

    RunResult r = RunProgramWithArguments({"/o1", "/a221", "/c643", "/quarnid4"}, work.string());
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(CallLine(), callAsOne);
    EXPECT_EQ(Received(), asOne);
    EXPECT_EQ(Read(exchange / "output_ex.dat-4"), "AMOUNT=221\r\nENC_DATA=");
}

TEST_F(EndToEnd, LibraryWithAnUnresolvedSymbolDoesNotLoad)
{
    UseLibrary("unbound");
    RunResult r = Run("/o1 /a221");
    EXPECT_EQ(r.exitCode, 2u);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text, "Unable to load library!");
    EXPECT_FALSE(LibraryCalled());
    EXPECT_TRUE(Files(exchange).empty());
}

TEST_F(EndToEnd, DivisionByZeroStackOverflowNonClassThrowAndBreakpointAreAbsorbed)
{
    ExpectAbsorbedAfterAnswer({"divide", "overflow", "throw-int", "trap"});
}

TEST_F(EndToEnd, WithoutRegistryVariableSettingsComeFromEtc)
{
    const std::string program = ProgramDirectory() + "/brennick";
    // The machine's own settings, where Brennick is installed, stay as they were.
    auto etcSettings = [] {
        std::string all;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator("/etc/brennick", ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            all += it->path().string() + "\n" + (it->is_regular_file() ? Read(it->path()) : "") + "\n";
        return all;
    };
    const std::string before = etcSettings();
    for (bool emptyVariable : {false, true}) {
        fs::remove_all(exchange);
        fs::create_directories(exchange);
        fs::path upper = base / "etc-upper", scratch = base / "etc-work";
        fs::remove_all(upper);
        fs::remove_all(scratch);
        fs::create_directories(upper);
        fs::create_directories(scratch);

        pid_t pid = ::fork();
        if (pid == 0) {
            std::string options = "lowerdir=/etc,upperdir=" + upper.string() +
                                  ",workdir=" + scratch.string();
            if (::unshare(CLONE_NEWNS) != 0 ||
                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount("overlay", "/etc", "overlay", 0, options.c_str()) != 0)
                ::_exit(77);
            fs::path key = "/etc/brennick/registry/software/Merot/Dovrex Auth Library";
            fs::create_directories(key);
            Write(key / "LocationPath", FixtureLibrary("full") + '\0');
            Write(key / "ExchangePath", exchange.string() + '\0');
            if (emptyVariable)
                ::setenv("BRENNICK_REGISTRY", "", 1);
            else
                ::unsetenv("BRENNICK_REGISTRY");
            if (::chdir(work.c_str()) != 0) ::_exit(121);
            ::execl(program.c_str(), program.c_str(), "/o1", static_cast<char*>(nullptr));
            ::_exit(122);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
            GTEST_SKIP() << "no private mount namespace here (it needs root)";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_EQ(Files(exchange), kResultFiles) << "empty variable: " << emptyVariable;
    }
    EXPECT_EQ(etcSettings(), before);
}

TEST_F(EndToEnd, LinkOrFifoInPlaceOfAResultFileIsRefusedAtOnce)
{
    Write(base / "victim", "precious");
    fs::create_symlink(base / "victim", exchange / "output_ex.dat");
    RunResult r = Run("/o1 /a221");
    EXPECT_EQ(r.exitCode, 2u);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text,   // ELOOP
              "Unable to create file " + (exchange / "output_ex.dat").string() + "! 28 (40)");
    EXPECT_EQ(Read(base / "victim"), "precious");
    fs::remove(exchange / "output_ex.dat");

    // No reader: the open must not wait for one.
    ASSERT_EQ(::mkfifo((exchange / "output_ex.txt").c_str(), 0600), 0);
    r = Run("/o1 /a221");
    EXPECT_EQ(r.exitCode, 2u);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text,   // ENXIO
              "Unable to create file " + (exchange / "output_ex.txt").string() + "! 6 (6)");
    EXPECT_FALSE(LibraryCalled());
}

TEST_F(EndToEnd, FullFileSystemDuringTheWriteEndsWithCodeThree)
{
    // A small file system filled up, in a mount namespace of the run's own.
    auto fillExchange = [this] {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", exchange.c_str(), "tmpfs", 0, "size=64k") != 0)
            ::_exit(77);
        int fd = ::open((exchange / "filler").c_str(), O_WRONLY | O_CREAT, 0600);
        char block[4096] = {};
        while (::write(fd, block, sizeof block) > 0) {
        }
        ::close(fd);
    };
    // A library fault does not hide the failed write: the files count first.
    for (const char* fault : {"", "crash"}) {
        if (*fault != '\0') SetTestEnv("BRENNICK_FIXTURE_FAULT", fault);
        fs::remove_all(base / "journal");
        fs::create_directories(base / "journal");
        SetSetting("JournalPath", (base / "journal").string() + '\0');
        RunResult r = RunProgramWithArguments({"/o1 /a221"}, work.string(), fillExchange);
        if (r.exitCode == 77) GTEST_SKIP() << "no private mount namespace here (it needs root)";
        EXPECT_TRUE(LibraryCalled());
        EXPECT_EQ(r.exitCode, 3u) << fault;
        ASSERT_EQ(r.boxes.size(), 1u);
        EXPECT_EQ(r.boxes[0].text,   // ENOSPC
                  "Unable to write file " + (exchange / "output.dat").string() + "! 1c (28)");
        std::string journal = Read(fs::directory_iterator(base / "journal")->path());
        for (const std::string& part : std::vector<std::string>{"\"outcome\":\"files-incomplete\",\"exit\":3,",
                                 "\"error\":{\"code\":28,\"detail\":\"No space left on device\"}",
                                 "\"" + (exchange / "output.dat").string() + "\":28"})
            EXPECT_NE(journal.find(part), std::string::npos) << part << "\n" << journal;
    }
}

#ifndef BRENNICK_SANITIZED
TEST_F(EndToEnd, NothingIsAllocatedAfterTheLibraryCall)
{
    SetTestEnv("LD_PRELOAD", ProgramDirectory() + "/alloc_tripwire.so");
    SetTestEnv("BRENNICK_FIXTURE_TRIPWIRE", "1");
    SetSetting("JournalPath", base.string() + '\0');   // its end line allocates nothing either
    Answer(offsetof(UserAuthInt, responseCode), "00");
    for (const char* fault : {"", "crash"}) {
        if (*fault != '\0') SetEnv("BRENNICK_FIXTURE_FAULT", fault);
        RunResult r = Run("/o1 /a221 /quarnid3");
        EXPECT_EQ(r.exitCode, *fault ? 4u : 0u) << fault << r.otherDiagnostics;
        EXPECT_EQ(Read(exchange / "output_ex.dat-3"), "RC=00\r\nAMOUNT=221\r\nENC_DATA=") << fault;
    }
}
#endif

TEST_F(EndToEnd, FaultOnAnotherThreadEndsTheProcess)
{
    // Absorbing it would jump to the calling thread's state from another
    // thread: two threads on one stack.
    // Each ends by its own signal, as it would without the guard.
    for (auto [fault, signal] : {std::pair{"thread-crash", SIGSEGV}, {"thread-abort", SIGABRT}}) {
        SetTestEnv("BRENNICK_FIXTURE_FAULT", fault);
        RunResult r = Run("/o1 /a221");
        EXPECT_EQ(r.exitCode, 1000u + signal) << fault;
        EXPECT_EQ(Read(exchange / "output.dat"), "");   // created before the call, never written
    }
}

TEST_F(EndToEnd, HelperForkedByTheLibraryKeepsNeitherLaneNorResultFiles)
{
    // It holds the run's descriptors, not its lock: the lock is Brennick's.
    SetTestEnv("BRENNICK_FIXTURE_HELPER", "5");
    ASSERT_EQ(Run("/o1 /a221 /quarnid3").exitCode, 0u);
    SetTestEnv("BRENNICK_FIXTURE_HELPER", "");
    RunResult r = Run("/o1 /a222 /quarnid3");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(r.boxes.empty()) << r.boxes[0].text;
    // A second name on a result file: found before the call, nothing run.
    fs::create_hard_link(exchange / "output_ex.dat-3", base / "planted");
    r = Run("/o1 /a223 /quarnid3");
    EXPECT_EQ(r.exitCode, 2u);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text, "Unable to write file " + (exchange / "output_ex.dat-3").string() + "! 2 (2)");
}

#ifndef BRENNICK_SANITIZED
TEST_F(EndToEnd, ShortWritesCarryOnWhereTheyStopped)
{
    Answer(offsetof(UserAuthInt, responseCode), "00");
    Answer(offsetof(UserAuthInt, text_msg), "APPROVED");
    RunResult plain = Run("/o1 /a221 /c643");
    ASSERT_EQ(plain.exitCode, 0u);
    std::vector<std::string> expected;
    for (const std::string& name : kResultFiles) expected.push_back(Read(exchange / name));

    fs::create_directories(base / "journal");
    SetSetting("JournalPath", (base / "journal").string() + '\0');
    SetTestEnv("LD_PRELOAD", ProgramDirectory() + "/short_writes.so");
    RunResult r = Run("/o1 /a221 /c643");
    EXPECT_EQ(r.exitCode, 0u) << r.otherDiagnostics;
    for (std::size_t i = 0; i < kResultFiles.size(); ++i)
        EXPECT_EQ(Read(exchange / kResultFiles[i]), expected[i]) << kResultFiles[i];
    // The journal is appended with plain writes: two whole lines.
    std::istringstream journal(Read(fs::directory_iterator(base / "journal")->path()));
    int lines = 0;
    for (std::string line; std::getline(journal, line); ++lines)
        EXPECT_TRUE(line.rfind("{\"event\":", 0) == 0 && line.back() == '}') << line;
    EXPECT_EQ(lines, 2);
}
#endif

TEST_F(EndToEnd, ExactlyNamedValueWinsOverOneThatDiffersInCase)
{
    // The key lies on a tmpfs of the run's own, which lists a folder in the
    // order of creation (or its reverse): one of the two orders puts the
    // other name first, whatever the machine's file system would do.
    fs::path key = fs::path(std::getenv("BRENNICK_REGISTRY")) / "software/Merot/Dovrex Auth Library";
    const std::string library = FixtureLibrary("full") + '\0';
    fs::create_directories(base / "other");
    for (bool exactFirst : {true, false}) {
        auto makeKey = [&] {
            if (::unshare(CLONE_NEWNS) != 0 ||
                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount("tmpfs", key.c_str(), "tmpfs", 0, "size=64k") != 0)
                ::_exit(77);
            Write(key / "LocationPath", library);
            for (int i = 0; i < 2; ++i) {
                if ((i == 0) == exactFirst) Write(key / "ExchangePath", exchange.string() + '\0');
                else Write(key / "EXCHANGEPATH", (base / "other").string() + '\0');
            }
        };
        RunResult r = RunProgramWithArguments({"/o1 /a221"}, work.string(), makeKey);
        if (r.exitCode == 77) GTEST_SKIP() << "no private mount namespace here (it needs root)";
        EXPECT_EQ(r.exitCode, 0u);
        EXPECT_EQ(Files(exchange), kResultFiles) << exactFirst;
        EXPECT_TRUE(Files(base / "other").empty()) << exactFirst;
    }
}

TEST_F(EndToEnd, LibraryThatScribblesOverTheStackCannotMakeTheGuardSpin)
{
    SetEnv("BRENNICK_FIXTURE_FAULT", "scribble");
    auto start = std::chrono::steady_clock::now();
    RunResult r = Run("/o1 /a221");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_NE(r.exitCode, kTimedOut);
#ifdef BRENNICK_SANITIZED
    // The sanitizer's larger frames put the guard's own frame in the
    // scribble's way; its fault handler then reports and ends the run.
    if (r.exitCode == 1) return;
#endif
    EXPECT_TRUE(r.exitCode == 4 || r.exitCode > 1000) << r.exitCode << r.otherDiagnostics;
}

TEST_F(EndToEnd, SettingsValueThatIsNoFileStopsTheRun)
{
    // A FIFO would block the open; a folder cannot be read as a value.
    fs::path key = fs::path(std::getenv("BRENNICK_REGISTRY")) / "software/Merot/Dovrex Auth Library";
    for (const char* name : {"LocationPath", "ExchangePath"}) {
        for (bool fifo : {true, false}) {
            ResetSettings();
            UseLibrary("full");
            SetSetting("ExchangePath", exchange.string() + '\0');
            fs::remove(key / name);
            if (fifo) ASSERT_EQ(::mkfifo((key / name).c_str(), 0600), 0);
            else fs::create_directory(key / name);
            RunResult r = Run("/o1 /a221");
            EXPECT_EQ(r.exitCode, 2u) << name;
            ASSERT_EQ(r.boxes.size(), 1u);
            EXPECT_EQ(r.boxes[0].text, std::string("Unable to read setting ") + name +
                                           (fifo ? "! 16 (22)" : "! 15 (21)"));
        }
    }
    EXPECT_FALSE(LibraryCalled());
    EXPECT_TRUE(Files(exchange).empty());
    EXPECT_TRUE(Files(work).empty());
}

// Every lane writes output.dat: under its short lock, so a writer that
// holds it delays the run, when it empties the file before the call and when
// it writes the answer after it; the file then holds one whole answer.
TEST_F(EndToEnd, OutputDatIsWrittenUnderItsLock)
{
    fs::create_directories(base / "hold");
    SetTestEnv("BRENNICK_FIXTURE_HOLD", (base / "hold").string());
    for (bool duringTheCall : {false, true}) {
        Write(exchange / "output.dat", "earlier run");
        fs::remove_all(base / "hold");
        fs::create_directories(base / "hold");
        int held = ::open((exchange / "output.dat").c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(held, 0);
        struct flock lock = {};
        lock.l_whence = SEEK_SET;
        RunResult r;
        std::thread run([&] { r = Run("/o1 /a221"); });
        for (int i = 0; duringTheCall && i < 2000 && !fs::exists(base / "hold" / "inside--"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        lock.l_type = F_WRLCK;
        ASSERT_EQ(::fcntl(held, F_SETLK, &lock), 0);
        Write(base / "hold" / "release--", "");
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        EXPECT_EQ(Read(exchange / "output.dat"), duringTheCall ? "" : "earlier run") << duringTheCall;
        lock.l_type = F_UNLCK;
        ::fcntl(held, F_SETLK, &lock);
        ::close(held);
        run.join();
        EXPECT_EQ(r.exitCode, 0u);
        EXPECT_EQ(Read(exchange / "output.dat"), OutputDatWithAmount("221")) << duringTheCall;
    }
}

// The journal and the mode are optional: one that cannot be read is not set.
TEST_F(EndToEnd, UnreadableOptionalSettingDoesNotStopTheRun)
{
    fs::path key = fs::path(std::getenv("BRENNICK_REGISTRY")) / "software/Merot/Dovrex Auth Library";
    for (const char* name : {"JournalPath", "Unattended"}) {
        for (int kind = 0; kind < 3; ++kind) {
            if (kind == 0 && ::geteuid() == 0) continue;   // root reads any file
            fs::remove_all(key / name);
            if (kind == 0) {
                SetSetting(name, (base / "journal").string() + '\0');
                fs::permissions(key / name, fs::perms::none);
            }
            if (kind == 1) fs::create_directory(key / name);
            if (kind == 2) {
                ASSERT_EQ(::mkfifo((key / name).c_str(), 0600), 0);
            }
            fs::remove_all(exchange);
            fs::create_directories(exchange);
            RunResult r = Run("/o1 /a221");
            EXPECT_EQ(r.exitCode, 0u) << name << kind;
            EXPECT_EQ(Read(exchange / "output_ex.dat"), "AMOUNT=221\r\nENC_DATA=") << name << kind;
            fs::remove_all(key / name);
        }
    }
}

TEST_F(EndToEnd, LibraryThatTouchesAResultDescriptorCannotPutForeignBytesInIt)
{
    const fs::path target = exchange / "output_ex.dat";
    SetTestEnv("BRENNICK_FIXTURE_TARGET", target.string());
    SetTestEnv("BRENNICK_FIXTURE_TAMPER", "write");
    for (const char* how : {"write", "seek"}) {
        SetEnv("BRENNICK_FIXTURE_TAMPER", how);
        RunResult r = Run("/o1 /a221");
        EXPECT_EQ(r.exitCode, 0u) << how;
        EXPECT_EQ(Read(target), "AMOUNT=221\r\nENC_DATA=") << how;
    }
    // Its descriptor now names the library's own file: written, but not there.
    SetEnv("BRENNICK_FIXTURE_TAMPER", "reopen");
    RunResult r = Run("/o1 /a221");
    EXPECT_EQ(r.exitCode, 3u);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text, "Unable to write file " + target.string() + "! 2 (2)");
}

TEST_F(EndToEnd, ClosedStandardOutputCannotBecomeAResultFile)
{
    // Closed, descriptor 1 would go to the journal or a result file, and
    // whatever the library prints with it.
    fs::create_directories(base / "journal");
    SetSetting("JournalPath", (base / "journal").string() + '\0');
    SetTestEnv("BRENNICK_FIXTURE_PRINT", "FOREIGN\n");
    const std::string program = ProgramDirectory() + "/brennick";
    RunResult r = RunProgramWithArguments({}, work.string(), [&] {
        if (::chdir(work.c_str()) != 0) ::_exit(121);
        ::close(1);
        ::execl(program.c_str(), program.c_str(), "/o1 /a221", static_cast<char*>(nullptr));
        ::_exit(122);
    });
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(Read(exchange / "output.dat"), OutputDatWithAmount("221"));
    EXPECT_EQ(Read(exchange / "output_ex.dat"), "AMOUNT=221\r\nENC_DATA=");
    std::string journal = Read(fs::directory_iterator(base / "journal")->path());
    EXPECT_EQ(journal.find("FOREIGN"), std::string::npos) << journal;
    EXPECT_EQ(Read(exchange / "output_ex.txt").find("FOREIGN"), std::string::npos);
}

TEST_F(EndToEnd, AfterAFaultNoCodeOfTheLibraryRunsAgain)
{
    // Its unload could wait forever on a lock that the fault left held.
    SetTestEnv("BRENNICK_FIXTURE_FAULT", "crash");
    SetTestEnv("BRENNICK_FIXTURE_UNLOAD", "hang");
    fs::create_directories(base / "journal");
    SetSetting("JournalPath", (base / "journal").string() + '\0');
    auto start = std::chrono::steady_clock::now();
    RunResult r = Run("/o1 /a221");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(r.exitCode, 4u);
    std::string journal = Read(fs::directory_iterator(base / "journal")->path());
    EXPECT_NE(journal.find("\"outcome\":\"library-fault\""), std::string::npos) << journal;
}

TEST_F(EndToEnd, ProcessesThatTheLibraryForksAreNotTheRun)
{
    fs::create_directories(base / "journal");
    SetSetting("JournalPath", (base / "journal").string() + '\0');
    SetTestEnv("BRENNICK_FIXTURE_FORK", "abort");
    for (const char* how : {"abort", "return", "exit"}) {
        for (const auto& e : fs::directory_iterator(base / "journal")) fs::remove(e.path());
        SetEnv("BRENNICK_FIXTURE_FORK", how);
        RunResult r = Run("/o1 /a221");
        EXPECT_EQ(r.exitCode, 0u) << how;
        EXPECT_EQ(Read(exchange / "output.dat"), OutputDatWithAmount("221")) << how;
        std::string journal = Read(fs::directory_iterator(base / "journal")->path());
        EXPECT_EQ(std::count(journal.begin(), journal.end(), '\n'), 2) << how << "\n" << journal;
    }
    // A child's exit() is its own: nothing of the run's is done in it.
    EXPECT_EQ(Read(libraryLog / "child.txt"), "exit 7");
    // The helper that aborted ended by its own signal, as without the guard.
    SetEnv("BRENNICK_FIXTURE_FORK", "abort");
    Run("/o1 /a221");
    EXPECT_EQ(Read(libraryLog / "child.txt"), "signal " + std::to_string(SIGABRT));
}

TEST_F(EndToEnd, OutcomeIsOnDiskBeforeTheWriteFailureBoxWaits)
{
    // The box's line goes into a full pipe: the run waits at it as it would
    // for a click, until the test reads.
    fs::create_directories(base / "journal");
    SetSetting("JournalPath", (base / "journal").string() + '\0');
    SetTestEnv("BRENNICK_FIXTURE_TAMPER", "rename-folder");
    SetTestEnv("BRENNICK_FIXTURE_TARGET", (exchange / "output_ex.dat").string());
    int box[2];
    ASSERT_EQ(::pipe(box), 0);
    ::fcntl(box[1], F_SETFL, O_NONBLOCK);
    char block[4096] = {};
    while (::write(box[1], block, sizeof block) > 0) {
    }
    ::fcntl(box[1], F_SETFL, 0);
    ::fcntl(box[0], F_SETFL, O_NONBLOCK);

    const std::string program = ProgramDirectory() + "/brennick";
    std::atomic<bool> done{false};
    RunResult r;
    std::thread run([&] {
        r = RunProgramWithArguments({}, work.string(), [&] {
            if (::chdir(work.c_str()) != 0) ::_exit(121);
            ::dup2(box[1], 2);
            ::execl(program.c_str(), program.c_str(), "/o1 /a221", static_cast<char*>(nullptr));
            ::_exit(122);
        });
        done = true;
    });
    bool endWhileWaiting = false;
    for (int i = 0; i < 500 && !endWhileWaiting && !done; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        for (const auto& e : fs::directory_iterator(base / "journal"))
            endWhileWaiting |= Read(e.path()).find("\"event\":\"end\"") != std::string::npos && !done;
    }
    std::string drained;
    while (!done) {
        char buf[4096];
        ssize_t n = ::read(box[0], buf, sizeof buf);
        if (n > 0) drained.append(buf, static_cast<std::size_t>(n));
        else std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    run.join();
    for (char c; ::read(box[0], &c, 1) == 1;) drained += c;
    ::close(box[0]);
    ::close(box[1]);
    EXPECT_TRUE(endWhileWaiting);
    EXPECT_EQ(r.exitCode, 3u);
    EXPECT_NE(drained.find("ERROR: Unable to write file"), std::string::npos);
}

TEST_F(EndToEnd, JournalLineCutByAFullDiskIsTakenBack)
{
    // All in a mount namespace of its own: a journal on a full tmpfs whose
    // last page has room for part of a line, one run there, then one with
    // room again; the day's file is copied out for the test to read.
    fs::path journal = base / "journal", copy = base / "journal-copy";
    fs::create_directories(journal);
    SetSetting("JournalPath", journal.string() + '\0');
    const std::string program = ProgramDirectory() + "/brennick";
    RunResult r = RunProgramWithArguments({}, work.string(), [&] {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", journal.c_str(), "tmpfs", 0, "size=64k") != 0)
            ::_exit(77);
        std::time_t now = std::time(nullptr);
        char name[32];
        std::strftime(name, sizeof name, "brennick-%Y%m%d.jsonl", std::localtime(&now));
        std::string old;
        while (old.size() < 3900) old += "{\"event\":\"old\"}\n";
        Write(journal / name, old);
        int fd = ::open((journal / "filler").c_str(), O_WRONLY | O_CREAT, 0600);
        char block[4096] = {};
        while (::write(fd, block, sizeof block) > 0) {
        }
        ::close(fd);
        auto runOnce = [&] {
            pid_t pid = ::fork();
            if (pid == 0) {
                if (::chdir(work.c_str()) != 0) ::_exit(121);
                ::execl(program.c_str(), program.c_str(), "/o1 /a221", static_cast<char*>(nullptr));
                ::_exit(122);
            }
            int status = 0;
            ::waitpid(pid, &status, 0);
        };
        runOnce();
        fs::remove(journal / "filler");
        runOnce();
        fs::copy_file(journal / name, copy);
        ::_exit(0);
    });
    if (r.exitCode == 77) GTEST_SKIP() << "no private mount namespace here (it needs root)";
    std::istringstream in(Read(copy));
    std::vector<std::string> events;
    for (std::string line; std::getline(in, line);) {
        std::size_t at = line.find("\"event\":\"");
        ASSERT_EQ(line.back(), '}') << line;
        events.push_back(at == std::string::npos ? "?" : line.substr(at + 9, 5));
    }
    // The first run's lines did not fit and are gone whole; the second's are there.
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2], "call\"");
    EXPECT_EQ(events.back(), "end\",");
    EXPECT_EQ(std::count(events.begin(), events.end(), "old\"}"), static_cast<long>(events.size() - 2));
}

// Result files are the lane's group's to read and write as far as the umask
// lets them; in a folder shared with its group (set-group-ID) whoever ran
// first, the group keeps both.
TEST_F(EndToEnd, ResultFilesAreTheGroupsAsFarAsTheUmaskAndTheFolderSay)
{
    auto modeAfter = [&](mode_t mask) {
        fs::remove_all(exchange);
        fs::create_directories(exchange);
        if (mask == 022) ::chmod(exchange.c_str(), 02770);
        RunResult r = RunProgramWithArguments({"/o1 /a221"}, work.string(), [mask] { ::umask(mask); });
        EXPECT_EQ(r.exitCode, 0u);
        struct stat st = {};
        ::stat((exchange / "output_ex.dat").c_str(), &st);
        return st.st_mode & 07777;
    };
    EXPECT_EQ(modeAfter(0), 0660u);
    EXPECT_EQ(modeAfter(077), 0600u);
    EXPECT_EQ(modeAfter(022), 0660u);   // the set-group-ID folder
}
