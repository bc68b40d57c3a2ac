#!/usr/bin/env python3
"""Plants, one at a time, faults that the tests must catch: applies each to
the source, builds the native preset, runs the tests of its area, and puts
the source back, also when interrupted. Prints which test failed for each
fault; exits 1 when a fault went unnoticed. Slow (one build per fault): run
it by hand after changing the tests it names, not in the test command.

    python3 scripts/plant-faults.py [NAME...]"""
import os
import subprocess
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
BIN = os.path.join(ROOT, "build", "native", "bin")


def e2e(pattern):
    return [os.path.join(BIN, "e2e_tests"), "--gtest_filter=" + pattern, "--gtest_brief=1"]


def py(folder, test):
    return ["python3", "-m", "unittest", test], os.path.join(ROOT, "tests", folder)


# name, file, text as it stands, text with the fault, test
FAULTS = [
    ("switch-at-first-byte", "app/switch_check.cpp", "in.at < out.valueStart", "in.at <= out.valueStart",
     e2e("*ValueThatHoldsASwitch*")),
    ("unattended-not-one", "paylib/settings.cpp", 'std::strcmp(value, "1") == 0', "value[0] != '0'",
     e2e("*OnlyUnattended*")),
    ("optional-setting-stops", "paylib/settings.cpp",
     '    if (!unusable) {\n        g_settingFailure.name = nullptr;',
     '    unusable = g_settingFailure.name != nullptr;\n    if (!unusable) {\n        g_settingFailure.name = nullptr;',
     e2e("*UnreadableOptional*")),
    ("card-13-digits", "export/card_mask.cpp", "kShortest = 13", "kShortest = 14", e2e("*CardNumbersOf*")),
    ("card-19-digits", "export/card_mask.cpp", "kLongest = 19", "kLongest = 18", e2e("*CardNumbersOf*")),
    ("no-flush-before-close", "platform/posix/files.cpp",
     "FlushResult flushed = Flushed(::fsync(static_cast<int>(file)), errorCode);",
     "FlushResult flushed = FlushResult::kFlushed;", e2e("*CallLineAndEmptied*")),
    ("einval-at-close-fails", "platform/posix/files.cpp", "bool ok = flushed != FlushResult::kFailed;",
     "bool ok = flushed == FlushResult::kFlushed;", e2e("*FailedFlushBeforeTheCall*")),
    ("emptied-files-not-flushed", "export/result_files.cpp",
     "platform::FlushResult r = platform::FlushFileChecked(files->handle[i], &flushCode);",
     "platform::FlushResult r = platform::FlushResult::kFlushed;", e2e("*CallLineAndEmptied*")),
    ("call-line-not-flushed", "export/journal.cpp",
     "platform::FlushResult flushed = platform::FlushFileChecked(g_journal, errorCode);",
     "platform::FlushResult flushed = platform::FlushResult::kFlushed;", e2e("*CallLineAndEmptied*")),
    ("output-dat-unlocked", "export/result_files.cpp",
     "bool locked = shared && platform::LockFileWaiting(files->handle[i], kSharedFileWait);",
     "bool locked = false && shared;", e2e("*OutputDatIsWrittenUnderItsLock*")),
    ("output-dat-written-unlocked", "export/result_files.cpp",
     "bool locked = which == kOutputDatFile && platform::LockFileWaiting(h, kSharedFileWait);",
     "bool locked = false;", e2e("*OutputDatIsWrittenUnderItsLock*")),
    ("child-exit-is-the-runs", "platform/posix/guard.cpp",
     "if (g_onExit != nullptr && ::getpid() == g_exitProcess) g_onExit(status);",
     "if (g_onExit != nullptr) g_onExit(status);", e2e("*ProcessesThatTheLibraryForks*")),
    ("lane-width", "brennickd/request.cpp", '{"lane", "/quarnid", Kind::kLane, 19}',
     '{"lane", "/quarnid", Kind::kLane, 18}', py("brennickd", "test_brennickd.Api")),
    ("token-prefix", "brennickd/service.cpp", "std::size_t diff = given.size() ^ secret.size();",
     "std::size_t diff = 0;", py("brennickd", "test_brennickd.Api")),
    ("origin-prefix", "brennickd/service.cpp", "if (allowed == *origin) return true;",
     "if (origin->compare(0, allowed.size(), allowed) == 0) return true;", py("brennickd", "test_brennickd.Api")),
    ("empty-lane-not-held", "brennickd/store.cpp", "if (lanes_.count(op.lane) != 0) return Begin::kLaneBusy;",
     "if (!op.lane.empty() && lanes_.count(op.lane) != 0) return Begin::kLaneBusy;",
     py("brennickd", "test_brennickd.SlowTerminal")),
    ("lane-kept-after-end", "brennickd/store.cpp", "lanes_.erase(e.live->op.lane);", "",
     py("brennickd", "test_brennickd.SlowTerminal")),
    ("start-not-flushed", "brennickd/store.cpp", "if (!Append(StartLines(op.key, e))) return",
     "if (!Append(StartLines(op.key, e), nullptr, 0, false)) return", py("brennickd", "test_answers.Answers")),
    ("fault-not-library-fault", "brennickd/answer.cpp",
     'a["library_fault"] = outcome == "library-fault" || outcome == "library-exit";',
     'a["library_fault"] = outcome == "library-exit";', py("brennickd", "test_answers.Answers")),
    ("no-rc-declined", "brennickd/answer.cpp", '        a["state"] = approved ? "approved" : "declined";\n    }',
     '        a["state"] = approved ? "approved" : "declined";\n    } else {\n        a["state"] = "declined";\n    }',
     py("brennickd", "test_answers.Answers")),
    ("pid-reused", "examples/python/brennick_pay.py", "call, end = entry, None", "call = entry",
     py("examples", "test_brennick_pay")),
    ("match-by-pid-again", "brennickd/journal_search.cpp",
     'if (line.find("\\"event\\":\\"end\\"") == std::string::npos || line.find(byRun) == std::string::npos)',
     'if (line.find("\\"event\\":\\"end\\"") == std::string::npos)',
     py("brennickd", "test_one_payment")),
    ("no-state-lock", "brennickd/main.cpp", "if (!HoldStateFolder(options.stateFolder, &reason)) return Fail(reason);",
     "", py("brennickd", "test_one_payment")),
    ("report-unbounded", "brennickd/service.cpp", "if (pending.size() > JournalLineLimit()) {", "if (false) {",
     py("brennickd", "test_one_payment")),
    ("cors-at-answer-time", "brennickd/service.cpp", "bool allowed = OriginAllowed(request, &origin);",
     "bool allowed = false;\n    Serve(request, respond);\n    return;", py("brennickd", "test_one_payment")),
    ("trace-id-unmasked", "brennickd/store.cpp", "    MaskCardData(&j);\n    return j;", "    return j;",
     py("brennickd", "test_one_payment")),
    ("sigpipe-kills", "brennickd/main.cpp", "    platform::IgnoreBrokenPipes();\n", "",
     py("brennickd", "test_one_payment")),
    ("simulator-trusts-any-folder", "simulator/lock_posix.cpp",
     'if ((st.st_mode & S_IWOTH) != 0) return "others may write to it";', "", e2e("*ForeignStateFolder*")),
    ("planted-link-followed", "simulator/lock_posix.cpp",
     "    ::unlink(temporary.c_str());\n    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0660);",
     "    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0660);", e2e("*ForeignStateFolder*")),
    ("report-blocks", "platform/posix/report.cpp", "if (now >= deadline) error = EAGAIN;", "",
     e2e("*GivenRunId*")),
    ("result-files-0644", "platform/posix/files.cpp", "fd = ::open(path, flags | O_CREAT | O_EXCL, 0660);",
     "fd = ::open(path, flags | O_CREAT | O_EXCL, 0644);", e2e("*GroupsAsFarAs*")),
    ("health-ignores-files", "brennickd/checks.cpp", 'FileWritable(&checks.back(), "result file", file);',
     "(void)file;", py("brennickd", "test_service")),
    ("pair-does-not-wait", "brennickd/client.cpp", "if (!ec || std::chrono::steady_clock::now() >= until) break;",
     "if (!ec || std::chrono::steady_clock::now() >= until || true) break;", py("brennickd", "test_pairing")),
    ("key-stored-after-the-answer", "clients/js/brennickd-client.js",
     "    this.storage.setItem(this.pendingName, JSON.stringify(pending));\n    return this.#finish(pending);",
     "    const answer = await this.#finish(pending);\n"
     "    this.storage.setItem(this.pendingName, JSON.stringify(pending));\n    return answer;",
     (["/usr/bin/python3", "-m", "unittest", "test_client"], os.path.join(ROOT, "tests", "brennickd"))),
    ("retry-with-a-new-key", "clients/js/brennickd-client.js",
     "return pending === null ? null : this.#finish(pending);",
     "return pending === null ? null : this.#finish({...pending, key: newKey()});",
     (["/usr/bin/python3", "-m", "unittest", "test_client"], os.path.join(ROOT, "tests", "brennickd"))),
    ("recovery-ignores-the-trace-id", "brennickd/store.cpp", "|| traceId.empty() || e.traceId != traceId) continue;",
     "|| traceId.empty()) continue;", py("brennickd", "test_one_payment")),
    ("compaction-not-flushed", "brennickd/store.cpp",
     "bool durable = platform::OpenForAppend(fresh.c_str(), &flushed) && platform::FlushFile(flushed);",
     "bool durable = platform::OpenForAppend(fresh.c_str(), &flushed);", py("brennickd", "test_held")),
    ("keep-hours-not-days", "brennickd/store.cpp",
     "    std::int64_t cutoff = Now() - static_cast<std::int64_t>(keepDays_) * 86400;\n    std::string fresh",
     "    std::int64_t cutoff = Now() - static_cast<std::int64_t>(keepDays_) * 3600;\n    std::string fresh",
     py("brennickd", "test_held")),
    ("answer-unmasked", "brennickd/service.cpp", "    MaskCardData(&answer);\n    store_->Finish(op.key, answer);",
     "    store_->Finish(op.key, answer);", py("brennickd", "test_held")),
    ("foreign-end-taken", "brennickd/service.cpp",
     'if (!line.is_object() || line.value("run", "") != op.run) continue;', "if (!line.is_object()) continue;",
     py("brennickd", "test_held")),
    ("revoke-by-prefix", "brennickd/tokens.cpp", "if (r.id != id || r.revoked) continue;",
     "if (r.id.compare(0, id.size(), id) != 0 || r.revoked) continue;", py("brennickd", "test_held")),
    ("wrong-codes-void-nothing", "brennickd/tokens.cpp", "if (++wrong_ >= kWrongCodes) codes_.clear();",
     "++wrong_;", py("brennickd", "test_held")),
    ("host-by-prefix", "brennickd/service.cpp", "if (host == name + port || (port_ == 80 && host == name)) return true;",
     "if (host.compare(0, name.size(), name) == 0) return true;", py("brennickd", "test_held")),
    ("reload-takes-readable-token", "brennickd/main.cpp",
     "if (!file->empty() && !platform::SecretFileIsPrivate(*file, reason)) return false;",
     "if (false && !platform::SecretFileIsPrivate(*file, reason)) return false;",
     py("brennickd", "test_held")),
    ("standard-descriptor-as-channel", "platform/posix/report.cpp", "fd <= 2 || fd > 65535", "fd < 0 || fd > 65535",
     e2e("*StandardDescriptorsAreNoReportChannel*")),
    ("report-inherited", "platform/posix/report.cpp",
     "    ::fcntl(static_cast<int>(fd), F_SETFD, flags | FD_CLOEXEC);\n", "", e2e("*HelperTheLibraryStarts*")),
    ("lock-on-a-fifo", "simulator/lock_posix.cpp", "if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {",
     "if (::fstat(fd, &st) != 0) {", e2e("*LockThatCannotBeHad*")),
    ("example-permission-traceback", "examples/python/brennick_pay.py",
     "except (FileNotFoundError, PermissionError) as e:", "except FileNotFoundError as e:",
     py("examples", "test_brennick_pay")),
    ("guide-block-flag", "docs/integrating.md", "brennick /o1 /a221 /c643 /bINV-0041",
     "brennick /o1 /a221 /c643 /xINV-0041", py("examples", "test_brennick_pay")),
    ("log-never-rotated", "brennickd/log.cpp", "if (g_size > kLogFileBytes) Rotate();",
     "if (g_size > kLogFileBytes && false) Rotate();",
     [os.path.join(BIN, "unit_tests"), "--gtest_filter=Log.*", "--gtest_brief=1"]),
    ("short-journal-write", "platform/posix/files.cpp",
     "        bytes += n;\n        size -= static_cast<std::size_t>(n);", "        return true;",
     e2e("*ShortWritesCarryOn*")),
]


def run(command, cwd=ROOT):
    env = dict(os.environ, BRENNICK_BIN=BIN, PYTHONDONTWRITEBYTECODE="1")
    return subprocess.run(command, cwd=cwd, env=env, capture_output=True, text=True)


def main(names):
    missed = []
    for name, path, good, bad, test in FAULTS:
        if names and name not in names:
            continue
        full = os.path.join(ROOT, path)
        with open(full) as f:
            source = f.read()
        if source.count(good) != 1:
            print("%-28s the text to change is not (once) in %s" % (name, path))
            missed.append(name)
            continue
        try:
            with open(full, "w") as f:
                f.write(source.replace(good, bad))
            built = run(["cmake", "--build", "--preset", "native", "-j2"])
            if built.returncode != 0:
                print("%-28s does not build:\n%s" % (name, built.stdout[-2000:]))
                missed.append(name)
                continue
            command, cwd = test if isinstance(test, tuple) else (test, ROOT)
            result = run(command, cwd)
            caught = result.returncode != 0
            failed = [line for line in (result.stdout + result.stderr).splitlines()
                      if line.startswith(("[  FAILED  ]", "FAIL:", "ERROR:"))]
            named = command[1] if command[0].endswith("e2e_tests") else command[-1]
            print("%-28s %s %s" % (name, "caught by" if caught else "NOT CAUGHT by", named))
            for line in failed[:3]:
                print("    " + line)
            if not caught:
                missed.append(name)
        finally:
            with open(full, "w") as f:
                f.write(source)
    run(["cmake", "--build", "--preset", "native", "-j2"])
    if missed:
        print("not caught: " + ", ".join(missed))
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
