// brennickd: a local payment service for browser-based registers. Each
// operation a page asks for is one run of Brennick, started with checked
// values only; the answers are kept by idempotency key.
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include <atomic>
#include <chrono>
#include <functional>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "brennickd/checks.h"
#include "brennickd/http_server.h"
#include "brennickd/log.h"
#include "brennickd/journal_search.h"
#include "brennickd/options.h"
#include "brennickd/service.h"
#include "brennickd/store.h"
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

std::string DefaultConfig()
{
    return platform::kPathSeparator == '\\' ? platform::OwnFolder() + "\\brennickd.conf"
                                             : "/etc/brennick/brennickd.conf";
}

std::vector<std::string> g_args;

// SIGHUP: the configuration and the tokens read again; running payments and
// the requests that wait for them go on as they are.
void Reload(PaymentService& service)
{
    Options fresh;
    ServiceSettings settings;
    std::string message;
    if (!LoadOptions(g_args, DefaultConfig(), &fresh, &message) ||
        !ReadServiceSettings(fresh, &settings, &message)) {
        LogLine("reload refused, the settings in use are kept: " + message);
        return;
    }
    service.Reload(settings);
    LogLine("reloaded: " + std::to_string(fresh.allowedOrigins.size()) + " origins, " +
            (settings.payToken.empty() ? "no pay token" : "a pay token"));
    if (fresh.address != g_options.address || fresh.port != g_options.port ||
        fresh.stateFolder != g_options.stateFolder)
        LogLine("the address and the state folder change at the next start only");
}

}  // namespace

// Ends the service once no payment runs any more, or once the stop timeout
// has passed: what still runs then is found again in the journal at the
// next start.
static void StopWhenIdle(boost::asio::io_context& io, PaymentService& service, OperationStore& store)
{
    if (g_stopping.exchange(true)) return;
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
    OperationStore store;
    std::string journal = g_journalFolder;
    if (!store.Open(options.stateFolder, options.keepDays,
                    [journal](const std::string& run, unsigned long pid, const std::string& started) {
                        return FindRunEnd(journal, run, pid, started);
                    },
                    &reason))
        return Fail(reason);
    PaymentService service(options, settings, brennick, &store);

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
        });
    };
    awaitReload();
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
            std::to_string(bound.port()) + ", Brennick " + brennick);
    std::thread second([&io] { io.run(); });
    io.run();
    second.join();
    g_stop = nullptr;
    g_io = nullptr;
    return 0;
}

static void StopService()
{
    if (g_io != nullptr) boost::asio::post(*g_io, [] {
            if (g_stop) g_stop();
        });
}

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string message;
    g_args = args;
    if (!LoadOptions(args, DefaultConfig(), &g_options, &message)) {
        std::fprintf(stderr, "brennickd: %s\n%s", message.c_str(), kUsage);
        return 2;
    }
    if (!g_options.makeToken.empty()) {
        unsigned char random[32];
        if (!platform::RandomBytes(random, sizeof random)) return Fail("the system has no random source");
        std::string token;
        static const char hex[] = "0123456789abcdef";
        for (unsigned char b : random) token += {hex[b >> 4], hex[b & 15]};
        if (!platform::WriteSecretFile(g_options.makeToken, token + "\n", &message)) return Fail(message);
        return 0;
    }
    if (g_options.installService) {
        std::string line;
        if (!ServiceArguments(args, &line, &message)) return Fail(message);
        return platform::RegisterService(kServiceName, line, &message) ? 0 : Fail(message);
    }
    if (g_options.uninstallService)
        return platform::RemoveService(kServiceName, &message) ? 0 : Fail(message);
    if (g_options.runAsService) return platform::RunAsServiceProcess(kServiceName, RunService, StopService);
    return RunService();
}
