#include "options.h"

#include "brindlewick_version.h"
#include "config_file.h"

#include <boost/asio/ip/address.hpp>
#include <boost/program_options.hpp>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace po = boost::program_options;

namespace brindlewick::server {

namespace {

// Digits only, from Min to Max: the library's default conversion would take "-1" as 65535.
template <std::uint64_t Min, std::uint64_t Max> struct Number { std::uint64_t value = 0; };
using Port = Number<0, 65535>;
using ByteCount = Number<0, UINT64_MAX / 2>;
using Seconds = Number<1, 86400>;
using ExpirySeconds = Number<1, 30 * 86400>;
using Count = Number<1, 1000000>;
using MemberCount = Number<2, 1000000>;
using Rate = Number<1, 1000000000>;

struct NonEmptyText {
    std::string value;
};

bool parseUnsigned(const std::string& text, std::uint64_t max, std::uint64_t& out) {
    if (text.empty() || text.size() > 20)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (errno == ERANGE || value > max)
        return false;
    out = value;
    return true;
}

// The library finds these two by argument-dependent lookup. Unlike its own, they let a
// repeated option replace the earlier value, so the last one on the command line counts.
template <std::uint64_t Min, std::uint64_t Max>
void validate(boost::any& out, const std::vector<std::string>& values, Number<Min, Max>*, int) {
    const std::string& text = po::validators::get_single_string(values);
    std::uint64_t number = 0;
    if (!parseUnsigned(text, Max, number) || number < Min)
        throw po::invalid_option_value(text);
    out = Number<Min, Max>{number};
}

// An IPv4 or IPv6 address, as boost::asio reads it.
struct IpAddress {
    std::string value;
};

void validate(boost::any& out, const std::vector<std::string>& values, IpAddress*, int) {
    const std::string& text = po::validators::get_single_string(values);
    boost::system::error_code ec;
    const auto address = boost::asio::ip::make_address(text, ec);
    if (ec)
        throw po::invalid_option_value(text);
    out = IpAddress{address.to_string()};
}

void validate(boost::any& out, const std::vector<std::string>& values, NonEmptyText*, int) {
    const std::string& text = po::validators::get_single_string(values);
    if (text.empty())
        throw po::invalid_option_value(text);
    out = NonEmptyText{text};
}

// One or more NATS server URLs separated by commas, e.g. nats://host:4222; nats.c reads
// them, so only what it would never take is refused here.
struct NatsUrls {
    std::string value;
};

void validate(boost::any& out, const std::vector<std::string>& values, NatsUrls*, int) {
    const std::string& text = po::validators::get_single_string(values);
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(text.find(',', start), text.size());
        const std::string url = text.substr(start, end - start);
        if (url.empty() || url.find_first_of(" \t\r\n") != std::string::npos)
            throw po::invalid_option_value(text);
        if (end == text.size())
            break;
        start = end + 1;
    }
    out = NatsUrls{text};
}

po::options_description generalOptions() {
    po::options_description general("Options");
    auto add = general.add_options();
    add("help,h", "show this text and exit");
    add("version", "show the version and exit");
    add("config", po::value<NonEmptyText>()->value_name("FILE"),
        "read the settings below from FILE, one 'name = value' per line");
    // A command, not a setting: in the environment or a settings file it would run at every start.
    add("release-phone", po::value<NonEmptyText>()->value_name("PHONE"),
        "free PHONE's claim (see claim-phones) in the database of the data folder, so that the "
        "next device to sign in claims it, and exit; exits 1 when PHONE had no claim");
    return general;
}

po::options_description settingsOptions() {
    const ServerOptions defaults;
    po::options_description settings(
        "Settings (also BRINDLEWICK_<NAME> in the environment, e.g. BRINDLEWICK_CHAT_PORT, or\n"
        "'name = value' in the --config file; the command line wins, then the environment)");
    auto port = [](std::uint16_t value) {
        return po::value<Port>()->value_name("N")->default_value(Port{value},
                                                                 std::to_string(value));
    };
    auto add = settings.add_options();
    add("host",
        po::value<NonEmptyText>()->value_name("ADDR")->default_value(NonEmptyText{defaults.host},
                                                                     defaults.host),
        "address to listen on");
    add("chat-port", port(defaults.chatPort), "chat port; 0 picks a free one");
    add("http-port", port(defaults.httpPort), "HTTP port; 0 picks a free one");
    add("data-dir", po::value<NonEmptyText>()->value_name("DIR"),
        "database and uploaded files (default $XDG_DATA_HOME/brindlewick-server, else "
        "~/.local/share/brindlewick-server)");
    add("postgres", po::value<NonEmptyText>()->value_name("URI"),
        "keep everything in this PostgreSQL database (postgresql://USER@HOST/DB) instead of "
        "SQLite, so that several servers can share it; a password goes in PGPASSWORD or "
        "~/.pgpass");
    add("max-upload-bytes",
        po::value<ByteCount>()->value_name("N")->default_value(
            ByteCount{defaults.maxUploadBytes}, std::to_string(defaults.maxUploadBytes)),
        "largest accepted file");
    add("idle-timeout",
        po::value<Seconds>()->value_name("SECONDS")->default_value(
            Seconds{std::uint64_t(defaults.idleSeconds)}, std::to_string(defaults.idleSeconds)),
        "close chat connections silent this long, 1 to 86400");
    add("http-host", po::value<std::vector<NonEmptyText>>()->value_name("NAME"),
        "a host name clients use for the HTTP port (repeatable); requests naming any other "
        "host than these and the listening address are refused");
    add("download-idle-timeout",
        po::value<Seconds>()->value_name("SECONDS")->default_value(
            Seconds{std::uint64_t(defaults.downloadIdleSeconds)},
            std::to_string(defaults.downloadIdleSeconds)),
        "cut an HTTP answer when the client takes nothing for this long, 1 to 86400");
    add("upload-expiry",
        po::value<ExpirySeconds>()->value_name("SECONDS")->default_value(
            ExpirySeconds{std::uint64_t(defaults.uploadExpirySeconds)},
            std::to_string(defaults.uploadExpirySeconds)),
        "drop an unfinished upload after this long without a chunk, 1 to 2592000");
    add("max-pending-uploads",
        po::value<Count>()->value_name("N")->default_value(
            Count{std::uint64_t(defaults.maxPendingUploads)},
            std::to_string(defaults.maxPendingUploads)),
        "unfinished uploads one client may hold at once (counted by device with claim-phones, "
        "else by address)");
    add("auth-timeout",
        po::value<Seconds>()->value_name("SECONDS")->default_value(
            Seconds{std::uint64_t(defaults.authSeconds)}, std::to_string(defaults.authSeconds)),
        "close chat connections not signed in this long after connecting, and HTTP connections "
        "whose TLS handshake or request header takes longer, 1 to 86400");
    add("max-connections",
        po::value<Count>()->value_name("N")->default_value(Count{defaults.maxConnections},
                                                           std::to_string(defaults.maxConnections)),
        "chat and HTTP connections at once, 1 to 1000000; more are closed at once");
    add("max-connections-per-address",
        po::value<Count>()->value_name("N")->default_value(
            Count{defaults.maxConnectionsPerAddress},
            std::to_string(defaults.maxConnectionsPerAddress)),
        "chat and HTTP connections at once from one address, 1 to 1000000");
    add("trusted-proxy", po::value<std::vector<IpAddress>>()->value_name("ADDR"),
        "a load balancer (repeatable) whose PROXY protocol v2 header, sent first on a connection "
        "to either port, names the client; caps, limits and the log then count the client's "
        "address. Connections from it without a header count as its own");
    add("max-messages-per-second",
        po::value<Rate>()->value_name("N")->default_value(
            Rate{defaults.maxMessagesPerSecond}, std::to_string(defaults.maxMessagesPerSecond)),
        "messages, edits and deletions one user may send per second (twice that at once); "
        "faster senders are slowed down");
    add("max-message-bytes-per-second",
        po::value<Rate>()->value_name("N")->default_value(
            Rate{defaults.maxMessageBytesPerSecond},
            std::to_string(defaults.maxMessageBytesPerSecond)),
        "bytes of messages one user may send per second (twice that at once); faster senders "
        "are slowed down");
    add("max-room-members",
        po::value<MemberCount>()->value_name("N")->default_value(
            MemberCount{defaults.maxRoomMembers}, std::to_string(defaults.maxRoomMembers)),
        "members of one group room, 2 to 1000000");
    add("tls-cert", po::value<NonEmptyText>()->value_name("FILE"),
        "serve the chat port and the HTTP port over TLS with this PEM certificate chain (the "
        "server's certificate first); needs --tls-key");
    add("tls-key", po::value<NonEmptyText>()->value_name("FILE"),
        "the PEM private key of --tls-cert; needs --tls-cert");
    add("claim-phones",
        po::value<bool>()
            ->value_name("BOOL")
            ->default_value(defaults.claimPhones, "false")
            ->implicit_value(true, "true"),
        "the first sign-in of a phone receives a device secret; other devices are then refused "
        "that phone, and HTTP requests acting for it need the secret as a bearer token");
    add("nats", po::value<NatsUrls>()->value_name("URL"),
        "run as one of several instances on a shared database: publish deliveries to, and "
        "take the other instances' from, the NATS server(s) at URL (e.g. nats://127.0.0.1:4222; "
        "several separated by commas)");
    return settings;
}

// The option an environment variable sets, or "" to leave the variable alone.
std::string optionOfVariable(const std::string& variable, const po::options_description& settings) {
    static const std::string prefix = "BRINDLEWICK_";
    if (variable.compare(0, prefix.size(), prefix) != 0)
        return {};
    std::string option = variable.substr(prefix.size());
    for (char& c : option)
        c = c == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!settings.find_nothrow(option, false) || environmentName(option) != variable)
        return {};
    return option;
}

} // namespace

std::string serverUsage() {
    po::options_description all;
    all.add(generalOptions()).add(settingsOptions());
    std::ostringstream text;
    text << "Usage: brindlewick-server [options]\n"
            "The chat and HTTP server of Brindlewick.\n"
         << all;
    return text.str();
}

std::string serverVersion() {
    return "brindlewick-server " BRINDLEWICK_VERSION "\n";
}

std::string environmentName(const std::string& option) {
    std::string name = "BRINDLEWICK_";
    for (char c : option)
        name += c == '-' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

std::string defaultDataDir() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg == '/')
        return std::string(xdg) + "/brindlewick-server";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/share/brindlewick-server";
}

OptionsResult parseServerOptions(const std::vector<std::string>& args) {
    OptionsResult result;
    auto fail = [&result](const std::string& text) {
        result.kind = OptionsResult::Error;
        result.error = text;
        return result;
    };
    const po::options_description settings = settingsOptions();
    // Arguments that are no option land here, so the message can name them.
    po::options_description unexpected;
    unexpected.add_options()("unexpected", po::value<std::vector<std::string>>());
    po::positional_options_description positional;
    positional.add("unexpected", -1);
    po::options_description commandLine;
    commandLine.add(generalOptions()).add(settings).add(unexpected);

    // What is stored first stays: the command line, then the environment, then the file.
    po::variables_map values;
    try {
        const int style =
            po::command_line_style::unix_style ^ po::command_line_style::allow_guessing;
        po::store(po::command_line_parser(args)
                      .options(commandLine)
                      .positional(positional)
                      .style(style)
                      .run(),
                  values);
    } catch (const po::error& e) {
        return fail(e.what());
    }
    if (values.count("unexpected"))
        return fail("unexpected argument '" +
                    values["unexpected"].as<std::vector<std::string>>().front() + "'");
    if (values.count("help")) {
        result.kind = OptionsResult::Help;
        return result;
    }
    if (values.count("version")) {
        result.kind = OptionsResult::Version;
        return result;
    }
    try {
        po::store(po::parse_environment(settings,
                                        [&settings](const std::string& variable) {
                                            return optionOfVariable(variable, settings);
                                        }),
                  values);
    } catch (const po::error_with_option_name& e) {
        std::string option = e.get_option_name();
        option.erase(0, option.find_first_not_of('-'));
        return fail("environment variable " + environmentName(option) + ": " + e.what());
    } catch (const po::error& e) {
        return fail(std::string("environment: ") + e.what());
    }
    if (values.count("config")) {
        std::string error;
        if (!storeConfigFile(values["config"].as<NonEmptyText>().value, settings, values, error))
            return fail(error);
    }

    ServerOptions& o = result.options;
    o.host = values["host"].as<NonEmptyText>().value;
    o.chatPort = static_cast<std::uint16_t>(values["chat-port"].as<Port>().value);
    o.httpPort = static_cast<std::uint16_t>(values["http-port"].as<Port>().value);
    o.dataDir =
        values.count("data-dir") ? values["data-dir"].as<NonEmptyText>().value : defaultDataDir();
    if (values.count("postgres"))
        o.postgres = values["postgres"].as<NonEmptyText>().value;
    o.maxUploadBytes = values["max-upload-bytes"].as<ByteCount>().value;
    o.idleSeconds = static_cast<int>(values["idle-timeout"].as<Seconds>().value);
    if (values.count("http-host"))
        for (const NonEmptyText& name : values["http-host"].as<std::vector<NonEmptyText>>())
            o.httpHosts.push_back(name.value);
    o.downloadIdleSeconds = static_cast<int>(values["download-idle-timeout"].as<Seconds>().value);
    o.uploadExpirySeconds = static_cast<int>(values["upload-expiry"].as<ExpirySeconds>().value);
    o.maxPendingUploads = static_cast<int>(values["max-pending-uploads"].as<Count>().value);
    o.authSeconds = static_cast<int>(values["auth-timeout"].as<Seconds>().value);
    o.maxConnections = values["max-connections"].as<Count>().value;
    o.maxConnectionsPerAddress = values["max-connections-per-address"].as<Count>().value;
    o.maxRoomMembers = values["max-room-members"].as<MemberCount>().value;
    if (values.count("tls-cert") != values.count("tls-key"))
        return fail(values.count("tls-cert") ? "--tls-cert needs --tls-key"
                                             : "--tls-key needs --tls-cert");
    if (values.count("tls-cert")) {
        o.tlsCert = values["tls-cert"].as<NonEmptyText>().value;
        o.tlsKey = values["tls-key"].as<NonEmptyText>().value;
    }
    o.claimPhones = values["claim-phones"].as<bool>();
    if (values.count("release-phone")) {
        result.kind = OptionsResult::ReleasePhone;
        result.phone = values["release-phone"].as<NonEmptyText>().value;
    }
    if (values.count("nats"))
        o.natsUrl = values["nats"].as<NatsUrls>().value;
    if (values.count("trusted-proxy"))
        for (const IpAddress& address : values["trusted-proxy"].as<std::vector<IpAddress>>())
            o.trustedProxies.push_back(address.value);
    o.maxMessagesPerSecond = values["max-messages-per-second"].as<Rate>().value;
    o.maxMessageBytesPerSecond = values["max-message-bytes-per-second"].as<Rate>().value;
    return result;
}

} // namespace brindlewick::server
