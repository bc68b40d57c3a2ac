// brennickd: a local payment service for browser-based registers. Each
// operation a page asks for is one run of Brennick, started with checked
// values only; the answers are kept by idempotency key.
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "brennickd/checks.h"
#include "brennickd/client.h"
#include "brennickd/http_server.h"
#include "brennickd/log.h"
#include "brennickd/journal_search.h"
#include "brennickd/options.h"
#include "brennickd/service.h"
#include "brennickd/state_lock.h"
#include "brennickd/store.h"
#include "brennickd/tokens.h"
#include "paylib/settings.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/secret.h"
#include "platform/service.h"

#ifndef BRENNICK_VERSION
#define BRENNICK_VERSION "0.0.0"
#endif

namespace {

const char* const kServiceName = "brennickd";
Options g_options;
boost::asio::io_context* g_io = nullptr;
std::function<void()> g_stop;
std::function<void()> g_reload;
std::atomic<bool> g_stopping{false};

int Fail(const std::string& message)
{
    std::fprintf(stderr, "brennickd: %s\n", message.c_str());
    platform::ReportServiceError("brennickd", message);
    return 2;
}

bool ReadToken(const std::string& path, std::string* token)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream s;
    s << in.rdbuf();
    *token = s.str();
    while (!token->empty() && (token->back() == '\n' || token->back() == '\r' || token->back() == ' '))
        token->pop_back();
    return token->size() >= 16;
}

// The settings a reload may change, tokens read afresh.
bool ReadServiceSettings(const Options& options, ServiceSettings* settings, std::string* reason)
{
    for (const std::string* file : {&options.tokenFile, &options.payTokenFile})
        if (!file->empty() && !platform::SecretFileIsPrivate(*file, reason)) return false;
    for (auto [file, token] : {std::pair{&options.tokenFile, &settings->token},
                               std::pair{&options.payTokenFile, &settings->payToken}}) {
        if (file->empty()) continue;
        if (!ReadToken(*file, token)) {
            *reason = "the token file " + *file + " cannot be read or holds fewer than 16 characters";
            return false;
        }
    }
    settings->allowedOrigins = options.allowedOrigins;
    settings->allowedHosts = options.allowedHosts;
    settings->waitSeconds = options.waitSeconds;
    AnswerRules rules;
    rules.codePage = options.codePage;
    rules.approvedCodes = options.approvedCodes;
    SetAnswerRules(rules);
    return true;
}

// The packages' configuration; on Windows, where the installer does not
// write one, one beside the program, as earlier releases read it.
std::string DefaultConfig()
{
    std::string installed = platform::ServiceSettingsFolder() + platform::kPathSeparator + "brennickd.conf";
    if (platform::kPathSeparator != '\\') return installed;
    std::error_code ec;
    std::string beside = platform::OwnFolder() + "\\brennickd.conf";
    return !std::filesystem::exists(installed, ec) && std::filesystem::exists(beside, ec) ? beside : installed;
}

// --make-token: a new token where there is none (one that is there stays:
// an installer runs it at every upgrade), and with --config-file a
// configuration that names it and its folder as the state, so that
// "brennickd pair" finds the service's.
int MakeToken(const Options& options)
{
    std::string message, existing;
    if (!ReadToken(options.makeToken, &existing)) {
        std::string token = RandomHex(32);
        if (token.empty()) return Fail("the system has no random source");
        if (!platform::WriteSecretFile(options.makeToken, token + "\n", &message)) return Fail(message);
    }
    std::error_code ec;
    if (options.configFile.empty() || std::filesystem::exists(options.configFile, ec)) return 0;
    std::string folder = std::filesystem::path(options.makeToken).parent_path().string();
    std::ofstream out(options.configFile, std::ios::binary);
    out << "# brennickd: one \"name = value\" per line, the long options without \"--\".\n"
        << "token-file = " << options.makeToken << "\nstate = " << folder << "\n";
    out.close();
    if (!out) return Fail("the configuration file " + options.configFile + " cannot be written");
    return 0;
}

std::vector<std::string> g_args;

// SIGHUP: the configuration and the tokens read again; running payments and
// the requests that wait for them go on as they are.
void Reload(PaymentService& service)
{
    platform::NotifyServiceManager("RELOADING=1");
    Options fresh;
    ServiceSettings settings;
    std::string message;
    if (!LoadOptions(g_args, DefaultConfig(), &fresh, &message) ||
        !ReadServiceSettings(fresh, &settings, &message)) {
        LogLine("reload refused, the settings in use are kept: " + message);
        platform::NotifyServiceManager("READY=1");
        return;
    }
    service.Reload(settings);
    LogLine("reloaded: " + std::to_string(fresh.allowedOrigins.size()) + " origins, " +
            (settings.payToken.empty() ? "no pay token" : "a pay token"));
    if (fresh.address != g_options.address || fresh.port != g_options.port ||
        fresh.stateFolder != g_options.stateFolder)
        LogLine("the address and the state folder change at the next start only");
    platform::NotifyServiceManager("READY=1");
}

}  // namespace

// Ends the service once no payment runs any more, or once the stop timeout
// has passed: what still runs then is found again in the journal at the
// next start.
static void StopWhenIdle(boost::asio::io_context& io, PaymentService& service, OperationStore& store)
{
    if (g_stopping.exchange(true)) return;
    platform::NotifyServiceManager("STOPPING=1");
    service.BeginStop();
    LogLine("stopping: no new operations, " + std::to_string(store.Running()) + " running");
    std::thread([&io, &store] {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(g_options.stopTimeoutSeconds);
        while (store.Running() > 0 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        // Answers of the last runs still leave before the end.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::size_t left = store.Running();
        LogLine(left == 0 ? "stopped" : "stopped with " + std::to_string(left) + " still running: their keys are "
                                        "found again in the journal at the next start");
        io.stop();
    }).detach();
}

static int RunService()
{
    const Options& options = g_options;
    ServiceSettings settings;
    std::string reason;
    if (!ReadServiceSettings(options, &settings, &reason)) return Fail(reason);
    // The same settings as Brennick's own: where its journal lies.
    if (ReadInstallationSettings() != 0) return Fail(g_errorText);
    std::string brennick = options.brennick;
    if (brennick.empty())
        brennick = platform::OwnFolder() + platform::kPathSeparator +
                   (platform::kPathSeparator == '\\' ? "Brennick.exe" : "brennick");
    // What it needs to pay is there before it says it listens.
    for (const Check& c : CheckInstallation(brennick))
        if (!c.ok) return Fail(c.problem);
    // A Windows service has no standard error: its lines go to its state
    // folder unless the administrator named another file.
    std::string logFile = options.logFile;
    if (logFile.empty() && options.runAsService && platform::kPathSeparator == '\\')
        logFile = options.stateFolder + (options.stateFolder.back() == '\\' ? "" : "\\") + "brennickd.log";
    if (!logFile.empty() && !LogToFile(logFile))
        return Fail("--log-file " + logFile + ": the file cannot be opened for appending");
    if (platform::OthersMayWrite(options.stateFolder))
        return Fail("the state folder " + options.stateFolder + " may be written by anybody: chmod o-w " +
                    options.stateFolder);
    if (!HoldStateFolder(options.stateFolder, &reason)) return Fail(reason);
    OperationStore store;
    TokenBook tokens;
    if (!tokens.Open(options.stateFolder, &reason)) return Fail(reason);
    JournalSearch journal(g_journalFolder);
    if (!store.Open(options.stateFolder, options.keepDays,
                    [&journal](const std::string& run, const std::string& started) {
                        return journal.FindRunEnd(run, started);
                    },
                    &reason))
        return Fail(reason);
    store.SettleCutOff();
    PaymentService service(options, settings, brennick, &store, &tokens);

    boost::asio::io_context io;
    g_io = &io;
    boost::asio::ip::tcp::endpoint bound;
    std::string message;
    if (!StartServer(io, options, &service, &bound, &message)) return Fail(message);
    service.SetPort(bound.port());
    g_stop = [&io, &service, &store] { StopWhenIdle(io, service, store); };
    boost::asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([](const boost::system::error_code& ec, int) {
        if (!ec) g_stop();
    });
    boost::asio::signal_set reload(io);
    if (platform::ReloadSignal() != 0) reload.add(platform::ReloadSignal());
    std::function<void()> awaitReload = [&] {
        reload.async_wait([&](const boost::system::error_code& ec, int) {
            if (ec) return;
            Reload(service);
            awaitReload();
    g_reload = [&service] { Reload(service); };
        });
    };
    awaitReload();
    g_reload = [&service] { Reload(service); };
    // Compaction at start where it is worth it, then once a day.
    boost::asio::steady_timer daily(io);
    std::function<void(bool)> compact = [&](bool always) {
        if (always || store.WantsCompaction()) store.Compact();
        daily.expires_after(std::chrono::hours(24));
        daily.async_wait([&](const boost::system::error_code& ec) {
            if (!ec) compact(true);
        });
    };
    boost::asio::post(io, [&] { compact(false); });
    std::printf("brennickd listening on %s:%u\n", bound.address().to_string().c_str(),
                static_cast<unsigned>(bound.port()));
    std::fflush(stdout);
    LogLine(std::string("started ") + BRENNICK_VERSION + " on " + bound.address().to_string() + ":" +
            std::to_string(bound.port()) + ", Brennick " + brennick + ", configuration " +
            (options.configRead.empty() ? "none (" + DefaultConfig() + " is not there)" : options.configRead));
    // It listens and its checks passed: a "brennickd pair" right after the
    // start finds it.
    platform::NotifyServiceManager("READY=1");
    std::thread second([&io] { io.run(); });
    io.run();
    second.join();
    g_stop = nullptr;
    g_reload = nullptr;
    g_io = nullptr;
    return 0;
}

static void StopService()
{
    if (g_io != nullptr) boost::asio::post(*g_io, [] {
            if (g_stop) g_stop();
        });
}

static void ReloadService()
{
    if (g_io != nullptr) boost::asio::post(*g_io, [] {
            if (g_reload) g_reload();
        });
}

// pair and tokens: the administrator asks the running service, with the
// admin token, and reads the answer in words.
static int AskRunningService(const Options& options)
{
    std::string token, message;
    if (!ReadToken(options.tokenFile, &token))
        return Fail("the token file " + options.tokenFile + " cannot be read (the administrator's is needed)");
    namespace http = boost::beast::http;
    int status = 0;
    nlohmann::json answer;
    bool asked = false;
    if (options.command == "pair")
        asked = AskService(options, http::verb::post, "/v1/pairing-codes",
                           nlohmann::json{{"scope", options.scope}}.dump(), token, &status, &answer, &message);
    else if (!options.revoke.empty())
        asked = AskService(options, http::verb::delete_, "/v1/tokens/" + options.revoke, "", token, &status,
                           &answer, &message);
    else
        asked = AskService(options, http::verb::get, "/v1/tokens", "", token, &status, &answer, &message);
    if (!asked) return Fail(message);
    if (status >= 300 || !answer.is_object())
        return Fail("brennickd answered " + std::to_string(status) + ": " +
                    (answer.is_object() ? answer.value("error", "") : std::string("no JSON")));
    if (options.command == "pair") {
        std::printf("pairing code %s for a %s token: valid for %d minutes, once, from a page of an allowed "
                    "origin\n",
                    answer.value("code", "").c_str(), options.scope.c_str(), TokenBook::kCodeSeconds / 60);
    } else if (!options.revoke.empty()) {
        std::printf("revoked %s\n", options.revoke.c_str());
    } else {
        for (const nlohmann::json& t : answer["tokens"])
            std::printf("%s  %-5s  %s  %s\n", t.value("id", "").c_str(), t.value("scope", "").c_str(),
                        t.value("created", "").c_str(), t.value("origin", "").c_str());
    }
    return 0;
}

int main(int argc, char** argv)
{
    // A payment's answer must not depend on whoever reads the log.
    platform::IgnoreBrokenPipes();
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string message;
    g_args = args;
    if (!LoadOptions(args, DefaultConfig(), &g_options, &message)) {
        std::fprintf(stderr, "brennickd: %s\n%s", message.c_str(), kUsage);
        return 2;
    }
    if (!g_options.makeToken.empty()) return MakeToken(g_options);
    if (!g_options.command.empty()) return AskRunningService(g_options);
    if (g_options.startService && !g_options.installService)
        return platform::StartRegisteredService(kServiceName, &message) ? 0 : Fail(message);
    if (g_options.reload) return platform::AskServiceToReload(kServiceName, &message) ? 0 : Fail(message);
    if (g_options.installService) {
        std::string line;
        if (!ServiceArguments(args, &line, &message)) return Fail(message);
        std::string account = g_options.account == "LocalSystem" ? "" : g_options.account;
        // Only what is given changes on a registered service.
        bool argumentsGiven = line != "--service";
        bool accountGiven = std::find(args.begin(), args.end(), "--account") != args.end();
        return platform::RegisterService(kServiceName, argumentsGiven ? line : "", account, accountGiven,
                                         g_options.keepRegistered, g_options.startService, &message)
                   ? 0
                   : Fail(message);
    }
    if (g_options.uninstallService)
        return platform::RemoveService(kServiceName, &message) ? 0 : Fail(message);
    if (g_options.runAsService) return platform::RunAsServiceProcess(kServiceName, RunService, StopService, ReloadService);
    return RunService();
}
