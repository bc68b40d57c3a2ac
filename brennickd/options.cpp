#include "brennickd/options.h"

#include <boost/asio/ip/address.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include "platform/secret.h"

const char* const kUsage =
    "usage: brennickd --token-file FILE --state FOLDER [--pay-token-file FILE]\n"
    "                 [--listen ADDRESS:PORT] [--allow-remote]\n"
    "                 [--allow-origin ORIGIN]... [--brennick PATH] [--max-connections N]\n"
    "                 [--read-timeout SECONDS] [--wait SECONDS] [--stop-timeout SECONDS]\n"
    "                 [--keep-days DAYS] [--allow-host NAME]... [--code-page NAME]\n"
    "                 [--approved-codes CODE,...] [--log-file FILE]\n"
    "       brennickd --install-service [--account NAME] [--keep-registered] [--start]\n"
    "                 [the options]                      (Windows)\n"
    "       brennickd --uninstall-service                     (Windows)\n"
    "       brennickd --make-token PATH [--config-file PATH]\n"
    "       brennickd pair [--scope pay|admin]     a one-time code for a page to pair with\n"
    "       brennickd tokens [--revoke ID]         the paired tokens, or one revoked\n"
    "       brennickd --reload                     (Windows) the service rereads its settings\n"
    "       brennickd --start                      (Windows) the registered service starts\n"
    "The options may stand in a file, --config PATH (default /etc/brennick/brennickd.conf;\n"
    "on Windows brennickd.conf in C:\\ProgramData\\Brennick\\brennickd, else beside the program):\n"
    "lines \"name = value\".\n";

std::string QuoteArgument(const std::string& argument)
{
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        out += c;
        backslashes = 0;
    }
    out.append(2 * backslashes, '\\');
    return out + "\"";
}

bool ServiceArguments(const std::vector<std::string>& args, std::string* line, std::string* message)
{
    *line = "--service";
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--install-service" || args[i] == "--start" || args[i] == "--keep-registered") continue;
        if (args[i] == "--account") {
            ++i;
            continue;
        }
        bool path = args[i] == "--token-file" || args[i] == "--pay-token-file" || args[i] == "--state" ||
                    args[i] == "--brennick" || args[i] == "--config" || args[i] == "--log-file";
        if (path && i + 1 < args.size() && !std::filesystem::path(args[i + 1]).is_absolute()) {
            *message = args[i] + " " + args[i + 1] + ": a service needs a full path (it starts in the system's folder)";
            return false;
        }
        *line += " " + QuoteArgument(args[i]);
    }
    return true;
}

namespace {

bool ParseListen(const std::string& text, Options* o, std::string* message)
{
    std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
        *message = "--listen takes ADDRESS:PORT";
        return false;
    }
    std::string host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    std::string port = text.substr(colon + 1);
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
        std::stoul(port) > 65535) {
        *message = "--listen: the port must be a number from 0 to 65535";
        return false;
    }
    boost::system::error_code ec;
    boost::asio::ip::make_address(host, ec);
    if (ec) {
        *message = "--listen: not an IP address: " + host;
        return false;
    }
    o->address = host;
    o->port = static_cast<unsigned short>(std::stoul(port));
    return true;
}

// scheme://host[:port] without path or trailing slash, as a browser sends it.
bool IsOrigin(const std::string& text)
{
    std::size_t scheme = text.find("://");
    if (scheme == std::string::npos || (text.compare(0, scheme, "http") != 0 && text.compare(0, scheme, "https") != 0))
        return false;
    std::string rest = text.substr(scheme + 3);
    std::string host = rest, port;
    if (!rest.empty() && rest[0] == '[') {
        std::size_t close = rest.find(']');
        if (close == std::string::npos) return false;
        host = rest.substr(0, close + 1);
        if (close + 1 < rest.size()) {
            if (rest[close + 1] != ':') return false;
            port = rest.substr(close + 2);
            if (port.empty()) return false;
        }
    } else if (std::size_t colon = rest.find(':'); colon != std::string::npos) {
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
        if (port.empty()) return false;
    }
    if (host.empty() || host.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-[]:") !=
                            std::string::npos)
        return false;
    return port.empty() || (port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos &&
                            std::stoul(port) >= 1 && std::stoul(port) <= 65535);
}

bool ParseCount(const std::string& option, const std::string& text, int low, int high, int* out,
                std::string* message)
{
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(text) < low || std::stoi(text) > high) {
        *message = option + " takes a number from " + std::to_string(low) + " to " + std::to_string(high);
        return false;
    }
    *out = std::stoi(text);
    return true;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, Options* o, std::string* message)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= args.size()) {
                *message = a + " needs a value";
                return false;
            }
            *out = args[++i];
            return true;
        };
        std::string v;
        if (a == "--listen") {
            if (!value(&v) || !ParseListen(v, o, message)) return false;
        } else if (a == "--allow-remote") {
            o->allowRemote = true;
        } else if (a == "--brennick") {
            if (!value(&o->brennick)) return false;
        } else if (a == "--token-file") {
            if (!value(&o->tokenFile)) return false;
        } else if (a == "--pay-token-file") {
            if (!value(&o->payTokenFile)) return false;
        } else if (a == "--make-token") {
            if (!value(&o->makeToken)) return false;
        } else if (a == "--config-file") {
            if (!value(&o->configFile)) return false;
        } else if (a == "--state") {
            if (!value(&o->stateFolder)) return false;
        } else if (a == "--allow-origin") {
            if (!value(&v)) return false;
            // An origin holds no comma: "a,b" names two (an installer's one property).
            for (std::size_t from = 0; from <= v.size();) {
                std::size_t comma = std::min(v.find(',', from), v.size());
                std::string origin = v.substr(from, comma - from);
                if (!IsOrigin(origin)) {
                    *message = "--allow-origin " + origin +
                               ": not an origin (scheme://host[:port], as the browser sends it)";
                    return false;
                }
                o->allowedOrigins.push_back(origin);
                from = comma + 1;
            }
        } else if (a == "--config") {
            if (!value(&v)) return false;   // read by LoadOptions
        } else if (a == "--max-connections") {
            if (!value(&v) || !ParseCount(a, v, 1, 10000, &o->maxConnections, message)) return false;
        } else if (a == "--read-timeout") {
            if (!value(&v) || !ParseCount(a, v, 1, 3600, &o->readTimeoutSeconds, message)) return false;
        } else if (a == "--wait") {
            if (!value(&v) || !ParseCount(a, v, 1, 3600, &o->waitSeconds, message)) return false;
        } else if (a == "--stop-timeout") {
            if (!value(&v) || !ParseCount(a, v, 0, 3600, &o->stopTimeoutSeconds, message)) return false;
        } else if (a == "--keep-days") {
            if (!value(&v) || !ParseCount(a, v, 1, 36500, &o->keepDays, message)) return false;
        } else if (a == "--allow-host") {
            if (!value(&v)) return false;
            o->allowedHosts.push_back(v);
        } else if (a == "--code-page") {
            if (!value(&o->codePage)) return false;
        } else if (a == "--approved-codes") {
            if (!value(&v)) return false;
            o->approvedCodes.clear();
            for (std::size_t from = 0; from <= v.size();) {
                std::size_t comma = v.find(',', from);
                std::string code = v.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
                if (code.empty() || code.size() > 3) {
                    *message = "--approved-codes takes response codes separated by commas, such as 00,10";
                    return false;
                }
                o->approvedCodes.push_back(code);
                if (comma == std::string::npos) break;
                from = comma + 1;
            }
        } else if (a == "pair" || a == "tokens") {
            o->command = a;
        } else if (a == "--scope") {
            if (!value(&o->scope)) return false;
            if (o->scope != "pay" && o->scope != "admin") {
                *message = "--scope is pay or admin";
                return false;
            }
        } else if (a == "--revoke") {
            if (!value(&o->revoke)) return false;
        } else if (a == "--log-file") {
            if (!value(&o->logFile)) return false;
        } else if (a == "--account") {
            if (!value(&o->account)) return false;
        } else if (a == "--start") {
            o->startService = true;
        } else if (a == "--reload") {
            o->reload = true;
        } else if (a == "--install-service") {
            o->installService = true;
        } else if (a == "--keep-registered") {
            o->keepRegistered = true;
        } else if (a == "--uninstall-service") {
            o->uninstallService = true;
        } else if (a == "--service") {
            o->runAsService = true;
        } else {
            *message = "unknown option: " + a;
            return false;
        }
    }
    if (o->uninstallService || o->reload || (o->startService && !o->installService) || !o->makeToken.empty())
        return true;
    // A registered service's program updated, its arguments kept.
    if (o->installService && o->tokenFile.empty() && o->stateFolder.empty()) return true;
    if (!o->command.empty() && o->tokenFile.empty()) {
        *message = "brennickd " + o->command + " asks the running service: it needs --token-file (the administrator's)";
        return false;
    }
    if (!o->command.empty()) return true;
    if (o->tokenFile.empty() || o->stateFolder.empty()) {
        *message = "--token-file and --state are required";
        return false;
    }
    boost::system::error_code ec;
    if (!boost::asio::ip::make_address(o->address, ec).is_loopback() && !o->allowRemote) {
        *message = "--listen on " + o->address + " reaches other machines: add --allow-remote";
        return false;
    }
    return true;
}

bool LoadOptions(const std::vector<std::string>& commandLine, const std::string& defaultConfig, Options* o,
                 std::string* message)
{
    std::string config;
    bool named = false;
    for (std::size_t i = 0; i + 1 < commandLine.size(); ++i)
        if (commandLine[i] == "--config") {
            config = commandLine[i + 1];
            named = true;
        }
    std::error_code ec;
    if (!named && !defaultConfig.empty() && std::filesystem::exists(defaultConfig, ec)) config = defaultConfig;
    std::vector<std::string> fromFile;
    if (!config.empty()) {
        std::ifstream in(config, std::ios::binary);
        if (!in) {
            *message = "the configuration file " + config + " cannot be read";
            return false;
        }
        // Its origins and files decide who may pay: nobody else may edit it.
        if (platform::OthersMayWrite(config)) {
            *message = "the configuration file " + config + " may be written by anybody: chmod o-w " + config;
            return false;
        }
        int number = 0;
        for (std::string line; std::getline(in, line);) {
            ++number;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            std::size_t start = line.find_first_not_of(" \t");
            if (start == std::string::npos || line[start] == '#') continue;
            std::size_t eq = line.find('=');
            std::string name = line.substr(start, eq == std::string::npos ? std::string::npos : eq - start);
            name.erase(name.find_last_not_of(" \t") + 1);
            std::string value;
            if (eq != std::string::npos) {
                std::size_t v = line.find_first_not_of(" \t", eq + 1);
                value = v == std::string::npos ? "" : line.substr(v);
                value.erase(value.find_last_not_of(" \t") + 1);
            }
            bool flag = name == "allow-remote";
            if (name.empty() || name == "config" || name == "install-service" || name == "uninstall-service" ||
                name == "service" || name == "make-token" || name == "config-file" || name == "reload" || name == "revoke" ||
                name == "scope" || name == "start" || name == "keep-registered" || (!flag && eq == std::string::npos)) {
                *message = config;
                *message += ":" + std::to_string(number) + ": not a setting: ";
                *message += line;
                return false;
            }
            if (flag && value != "yes") continue;
            fromFile.push_back("--" + name);
            if (!flag) fromFile.push_back(value);
        }
    }
    // A list given on the command line replaces the file's.
    std::set<std::string> given(commandLine.begin(), commandLine.end());
    std::vector<std::string> args;
    for (std::size_t i = 0; i < fromFile.size(); ++i) {
        bool list = fromFile[i] == "--allow-origin" || fromFile[i] == "--allow-host";
        if (list && given.count(fromFile[i]) != 0) {
            ++i;
            continue;
        }
        args.push_back(fromFile[i]);
    }
    args.insert(args.end(), commandLine.begin(), commandLine.end());
    if (ParseOptions(args, o, message)) {
        o->configRead = config;
        return true;
    }
    if (!config.empty()) *message += " (settings of " + config + " and the command line)";
    return false;
}
