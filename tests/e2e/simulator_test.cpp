// The terminal simulator through the real program: switches in, result
// files out, on either build.
#include <chrono>
#include <map>
#include <set>
#include <sstream>

#include "e2e/e2e_fixture.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

class Simulator : public EndToEnd {
protected:
    fs::path state;

    void SetUp() override
    {
        EndToEnd::SetUp();
        state = base / "state";
        fs::create_directories(state);
        SetSetting("LocationPath", SimulatorLibrary() + '\0');
        SetEnv("PAYSIM_STATE_DIR", state.string());
        SetEnv("PAYSIM_NOW", "2026-12-08T14:30:05");
        UnsetEnv("PAYSIM_FAULT");
        UnsetEnv("PAYSIM_DELAY_MS");
    }

    static std::string SimulatorLibrary()
    {
        return ProgramDirectory() + (kWindows ? "\\paysim.dll" : "/libpaysim.so");
    }

    // output_ex.dat of one run as a map of keys to values.
    std::map<std::string, std::string> Pay(const std::string& switches)
    {
        RunResult r = Run(switches);
        EXPECT_EQ(r.exitCode, 0u) << switches;
        EXPECT_TRUE(r.boxes.empty()) << switches;
        std::map<std::string, std::string> values;
        std::string text = Read(exchange / "output_ex.dat");
        std::size_t start = 0;
        while (start <= text.size()) {
            std::size_t end = text.find("\r\n", start);
            std::string line = text.substr(start, end == std::string::npos ? end : end - start);
            std::size_t eq = line.find('=');
            if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
            if (end == std::string::npos) break;
            start = end + 2;
        }
        return values;
    }

    std::string DumpLine(const std::string& name)
    {
        std::string dump = Read(exchange / "output_ex.txt");
        std::size_t at = dump.find("\n" + name + " =");
        if (at == std::string::npos) return "?";
        at += name.size() + 3;
        return dump.substr(at, dump.find('\n', at) - at);
    }
};

}  // namespace

TEST_F(Simulator, PurchaseIsApprovedWithMaskedCardAndTerminalFields)
{
    auto v = Pay("/o1 /a221 /c643 /tM4111111111111111=3012?");
    EXPECT_EQ(v["RC"], "00");
    EXPECT_EQ(v["TEXT_MSG"], "APPROVED");
    EXPECT_EQ(v["PAN"], "411111******1111");
    EXPECT_EQ(v["CARD_TYPE"], "VISA");
    EXPECT_EQ(v["APP_LABLE"], "VISA CREDIT");
    EXPECT_EQ(v["TID"], "PSIM0001");
    EXPECT_EQ(v["AMOUNT"], "221");
    EXPECT_EQ(v["AUTH_CODE"].size(), 6u);
    EXPECT_EQ(v["RRN"].substr(0, 6), "634214");   // year 6, day 342, hour 14
    EXPECT_EQ(v["RRN"].size(), 12u);
    EXPECT_EQ(DumpLine("date"), "261208");
    EXPECT_EQ(DumpLine("time"), "143005");
    EXPECT_EQ(DumpLine("AID"), "A0000000031010");
    EXPECT_EQ(DumpLine("system_res"), "0");
    // The slip's lines run on in the dump up to the next field's line.
    EXPECT_NE(Read(exchange / "output_ex.txt")
                  .find("\ndata_to_print =** SIMULATOR **\nSALE 2.21 643\n*1111 00 APPROVED\nhome_operator =\n"),
              std::string::npos);
}

TEST_F(Simulator, CardFormsAndBrands)
{
    EXPECT_EQ(Pay("/o1 /a5 /t;2200000000000004=30122011?")["CARD_TYPE"], "MIR");
    EXPECT_EQ(Pay("/o1 /a5 /tD5555555555554444")["PAN"], "555555******4444");
    EXPECT_EQ(Pay("/o1 /a5 /tD5555555555554444")["CARD_TYPE"], "MASTERCARD");
    EXPECT_EQ(Pay("/o1 /a5 /tM4111111111111112=3012?")["RC"], "14");   // fails the check digit
}

TEST_F(Simulator, DeclineTriggers)
{
    auto v = Pay("/o1 /a10051 /c643");
    EXPECT_EQ(v["RC"], "51");
    EXPECT_EQ(v["TEXT_MSG"], "INSUFFICIENT FUNDS");
    EXPECT_EQ(v.count("AUTH_CODE"), 0u);
    EXPECT_EQ(DumpLine("system_res"), "51");
    EXPECT_EQ(Pay("/o1 /a10005")["RC"], "05");
    EXPECT_EQ(Pay("/o1 /a10000")["RC"], "00");

    v = Pay("/o1 /a221 /tM4111111111111111=2611?");   // expired November 2026
    EXPECT_EQ(v["RC"], "54");
    EXPECT_EQ(v["TEXT_MSG"], "EXPIRED CARD");
    EXPECT_EQ(Pay("/o1 /a221 /tM4111111111111111=2612?")["RC"], "00");
    EXPECT_EQ(Pay("/o1 /c643")["RC"], "13");   // no amount
}

TEST_F(Simulator, RefundCancelAndEndOfDayKeepTheJournal)
{
    std::string first = Pay("/o1 /a1000")["RRN"];
    std::string second = Pay("/o1 /a250")["RRN"];
    EXPECT_NE(first, second);
    EXPECT_EQ(Pay("/o2 /a300 /r" + first)["RC"], "00");
    EXPECT_EQ(Pay("/o2 /a3000 /r" + first)["RC"], "13");   // more than the purchase

    auto cancel = Pay("/o3 /r" + second);
    EXPECT_EQ(cancel["RC"], "00");
    EXPECT_EQ(cancel["AMOUNT"], "250");
    EXPECT_EQ(Pay("/o3 /r" + second)["RC"], "12");         // already cancelled
    EXPECT_EQ(Pay("/o3 /r999999999999")["RC"], "25");      // not in the journal

    auto eod = Pay("/o7");
    EXPECT_EQ(eod["RC"], "00");
    EXPECT_EQ(DumpLine("data_to_print"), "SALES 1/1000 REFUNDS 1/300 VOIDS 1");
    Pay("/o7");
    EXPECT_EQ(DumpLine("data_to_print"), "SALES 0/0 REFUNDS 0/0 VOIDS 0");
    EXPECT_EQ(Pay("/o3 /r" + first)["RC"], "25");          // the day is closed
}

TEST_F(Simulator, GetAdminAndUnknownOperations)
{
    Pay("/gs");
    EXPECT_EQ(Read(exchange / "output.dat").substr(0, 4), "00\r\n");
    EXPECT_EQ(Pay("/gs")["TEXT_MSG"], "SERIAL PS0000000001");
    EXPECT_EQ(Pay("/o99")["TEXT_MSG"], "ADMIN MENU CLOSED");
    auto v = Pay("/o42 /a100");
    EXPECT_EQ(v["RC"], "40");
    EXPECT_EQ(v["TEXT_MSG"], "FUNCTION NOT SUPPORTED");
}

TEST_F(Simulator, InstancesKeepSeparateJournals)
{
    std::string rrn = Pay("/o1 /a700 /quarnid2")["RRN"];
    fs::rename(exchange / "output_ex.dat-2", exchange / "output_ex.dat");
    EXPECT_EQ(Pay("/o3 /r" + rrn)["RC"], "25");
    EXPECT_TRUE(fs::exists(state / "paysim-2.state"));
    EXPECT_TRUE(fs::exists(state / "paysim-default.state"));
    // An id beyond plain letters and digits keeps a plain state file name.
    Pay("/o1 /a5 /quarnid..x");
    EXPECT_TRUE(fs::exists(state / "paysim-__x.state"));
}

TEST_F(Simulator, ReferenceNumbersNeverRepeatAcrossRunsAndDamagedState)
{
    std::set<std::string> rrns, codes;
    for (int i = 0; i < 4; ++i) {
        auto v = Pay("/o1 /a100");
        rrns.insert(v["RRN"]);
        codes.insert(v["AUTH_CODE"]);
    }
    Write(state / "paysim-default.state", std::string("PAYSIM-STATE 1\nsequence x\n\x01\xff"));
    auto v = Pay("/o1 /a100");
    EXPECT_EQ(v["RC"], "00");
    rrns.insert(v["RRN"]);
    codes.insert(v["AUTH_CODE"]);
    EXPECT_EQ(rrns.size(), 5u);
    EXPECT_EQ(codes.size(), 5u);
    EXPECT_EQ(Read(state / "paysim-default.state").substr(0, 15), "PAYSIM-STATE 3\n");
}

TEST_F(Simulator, SlowTerminalIsWaitedFor)
{
    SetEnv("PAYSIM_DELAY_MS", "700");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Pay("/o1 /a100")["RC"], "00");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(700));
    UnsetEnv("PAYSIM_DELAY_MS");
}

TEST_F(Simulator, FaultOnRequestLeavesSwitchValuesInTheFiles)
{
    for (const char* how : {"crash", "raise", "exception"}) {
        SetEnv("PAYSIM_FAULT", how);
        RunResult r = Run("/o1 /a221 /c643");
        EXPECT_EQ(r.exitCode, 4u) << how;
        EXPECT_TRUE(r.boxes.empty()) << how;
        EXPECT_EQ(Read(exchange / "output_ex.dat"), "AMOUNT=221\r\nENC_DATA=") << how;
    }
    UnsetEnv("PAYSIM_FAULT");
}

TEST_F(Simulator, FaultAfterTheApprovalLeavesTheApprovalInTheFiles)
{
    // The register's worst case: approved, money moved, then the library died.
    for (const char* how : {"crash-after", "raise-after", "exception-after", "abort-after"}) {
        SetEnv("PAYSIM_FAULT", how);
        RunResult r = Run("/o1 /a221 /c643");
        EXPECT_EQ(r.exitCode, 4u) << how;
        std::string dat = Read(exchange / "output_ex.dat");
        EXPECT_EQ(dat.rfind("RC=00\r\n", 0), 0u) << how << dat;
        EXPECT_NE(dat.find("AUTH_CODE="), std::string::npos) << how;
    }
    UnsetEnv("PAYSIM_FAULT");
}

TEST_F(Simulator, MalformedFixedClockAnswersSystemMalfunction)
{
    SetEnv("PAYSIM_NOW", "2026-12-08 14:30:05");
    auto v = Pay("/o1 /a221");
    EXPECT_EQ(v["RC"], "96");
    EXPECT_EQ(v["TEXT_MSG"], "SYSTEM MALFUNCTION");
    EXPECT_EQ(v.count("RRN"), 0u);
}

TEST_F(Simulator, LockThatCannotBeHadAnswersSystemMalfunctionAndKeepsTheState)
{
    // Unlocked, parallel runs would lose each other's operations.
    fs::create_directories(state / "paysim.lock");
    auto v = Pay("/o1 /a221");
    EXPECT_EQ(v["RC"], "96");
    EXPECT_FALSE(fs::exists(state / "paysim-default.state"));
#ifndef _WIN32
    // A FIFO there, whose open would wait for a writer: the same.
    fs::remove(state / "paysim.lock");
    ASSERT_EQ(::mkfifo((state / "paysim.lock").c_str(), 0600), 0);
    EXPECT_EQ(Pay("/o1 /a221")["RC"], "96");
    EXPECT_FALSE(fs::exists(state / "paysim-default.state"));
#endif
}

#ifndef _WIN32
// A state folder that others may write is not the user's: refused before
// anything is read from it. In a folder of its own, a link planted where the
// state is written is replaced, never written through.
TEST_F(Simulator, ForeignStateFolderIsRefusedAndNoPlantedLinkIsFollowed)
{
    fs::permissions(state, fs::perms::all);
    RunResult r = Run("/o1 /a221");
    fs::permissions(state, fs::perms::owner_all);
    EXPECT_NE(Read(exchange / "output_ex.dat").find("RC=96"), std::string::npos);
    EXPECT_NE(r.otherDiagnostics.find("paysim: the state folder " + state.string() + " is refused: others may write"),
              std::string::npos)
        << r.otherDiagnostics;
    Write(base / "victim", "kept");
    fs::create_symlink(base / "victim", state / "paysim-default.state.new");
    fs::create_symlink(base / "victim", state / "paysim-counter");
    EXPECT_EQ(Pay("/o1 /a221")["RC"], "00");
    EXPECT_EQ(Read(base / "victim"), "kept");
}

TEST_F(Simulator, DefaultStateIsTheUsersOwn)
{
    UnsetEnv("PAYSIM_STATE_DIR");
    SetTestEnv("XDG_STATE_HOME", "");
    SetTestEnv("HOME", base.string());
    EXPECT_EQ(Pay("/o1 /a221")["RC"], "00");
    fs::path folder = base / ".local" / "state" / "paysim";
    EXPECT_TRUE(fs::exists(folder / "paysim-default.state"));
    EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
}
#endif

TEST_F(Simulator, RefundsNeverExceedThePurchaseAndBlockItsCancel)
{
    std::string purchase = Pay("/o1 /a500")["RRN"];
    EXPECT_EQ(Pay("/o2 /a300 /r" + purchase)["RC"], "00");
    EXPECT_EQ(Pay("/o2 /a300 /r" + purchase)["RC"], "13");   // 600 > 500
    std::string second = Pay("/o2 /a200 /r" + purchase)["RRN"];
    EXPECT_EQ(Pay("/o2 /a1 /r" + purchase)["RC"], "13");     // fully refunded
    auto whole = Pay("/o3 /r" + purchase);
    EXPECT_EQ(whole["RC"], "12");
    EXPECT_EQ(whole["TEXT_MSG"], "INVALID TRANSACTION");
    EXPECT_EQ(Pay("/o3 /r" + second)["RC"], "00");           // gives 200 back
    EXPECT_EQ(Pay("/o2 /a150 /r" + purchase)["RC"], "00");
    EXPECT_EQ(Pay("/o7")["RC"], "00");
    EXPECT_EQ(DumpLine("data_to_print"), "SALES 1/500 REFUNDS 2/450 VOIDS 1");

    std::string cancelled = Pay("/o1 /a400")["RRN"];
    EXPECT_EQ(Pay("/o3 /r" + cancelled)["RC"], "00");
    EXPECT_EQ(Pay("/o2 /a100 /r" + cancelled)["RC"], "25");   // nothing left to refund
}

TEST_F(Simulator, LastOperationIsToldAgainWithoutChangingTheState)
{
    EXPECT_EQ(Pay("/o8")["RC"], "25");   // none yet
    auto sale = Pay("/o1 /a221 /bINV-7");
    Pay("/o1 /a10051 /bINV-8");           // declined: it is the last one now
    std::string before = Read(state / "paysim-default.state");
    auto last = Pay("/o8");
    EXPECT_EQ(last["RC"], "51");
    EXPECT_EQ(last["TRACE_ID"], "INV-8");
    EXPECT_EQ(Read(state / "paysim-default.state"), before);
    Pay("/o3 /bINV-9 /r" + sale["RRN"]);
    Pay("/o7");                           // end of day keeps it
    last = Pay("/o8");
    EXPECT_EQ(last["RC"], "00");
    EXPECT_EQ(last["AMOUNT"], "221");
    EXPECT_EQ(last["AUTH_CODE"], sale["AUTH_CODE"]);
    EXPECT_EQ(last["TRACE_ID"], "INV-9");
    EXPECT_EQ(DumpLine("payment_data"), "CANCEL");
    EXPECT_NE(Read(exchange / "output_ex.txt").find("data_to_print =** SIMULATOR **\nCANCEL"), std::string::npos);
}

TEST_F(Simulator, ParallelRunsLoseNothingAndNeverShareANumber)
{
    // Each state file line after the counter is one journal entry:
    // "rrn operation amount currency authcode ...".
    auto entries = [this] {
        std::vector<std::pair<std::string, std::string>> all;
        for (const auto& e : fs::directory_iterator(state)) {
            if (e.path().extension() != ".state") continue;
            std::istringstream in(Read(e.path()));
            std::string line, rrn, op, amount, currency, auth;
            std::getline(in, line);
            std::getline(in, line);
            while (std::getline(in, line)) {
                if (line.rfind("last ", 0) == 0) continue;   // the last operation, told again
                std::istringstream entry(line);
                if (entry >> rrn >> op >> amount >> currency >> auth) all.emplace_back(rrn, auth);
            }
        }
        return all;
    };
    // On one lane the runs that find it busy end before the call.
    const int runs = kWindows ? 20 : 300;
    std::vector<std::string> texts(runs, "/o1 /a100");
    int completed = 0;
    for (unsigned long code : RunProgramsAtOnce(texts, work.string())) {
        EXPECT_TRUE(code == 0 || code == 2) << code;
        completed += code == 0;
    }
    fs::remove_all(exchange);
    fs::create_directories(exchange);
    // New instance ids all at once: each state file is new.
    std::vector<std::string> ids;
    for (int i = 0; i < runs / 5; ++i) ids.push_back("/o1 /a100 /quarnid" + std::to_string(i));
    for (unsigned long code : RunProgramsAtOnce(ids, work.string())) EXPECT_EQ(code, 0u);

    std::set<std::string> rrns, codes;
    auto all = entries();
    for (const auto& [rrn, auth] : all) {
        rrns.insert(rrn);
        codes.insert(auth);
    }
    EXPECT_EQ(all.size(), static_cast<std::size_t>(completed + runs / 5));
    EXPECT_EQ(rrns.size(), all.size());
    EXPECT_EQ(codes.size(), all.size());
}
