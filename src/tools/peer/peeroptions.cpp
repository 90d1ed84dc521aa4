#include "peeroptions.h"
#include "peercommands.h"

#include "platform/acm/codec.h"
#include "platform/wave/backend.h"
#include "platform/winsock.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace peer {

namespace {

const char *const kDescription
    = "A headless Tobrel intercom endpoint. It listens for calls on a UDP port and answers them by\n"
      "itself, or places a call, using the default sound devices (or those named), or WAV files, and\n"
      "prints one line per event. Ctrl-C (or --duration, or the line quit) hangs up cleanly and\n"
      "exits; --call and --ping exit by themselves once they are done, with a status that tells how\n"
      "it went.\n"
      "\n"
      "It also joins the LAN's presence exchange as the window program does: it announces its\n"
      "addresses to every copy (UDP broadcast to port 60779 of each network), answers their\n"
      "refresh requests, ends its call when a copy broadcasts \"Stop\", and prints its list of\n"
      "copies whenever it changes, one line per entry: \"listed <i>/<n>: <address> [<computer>]\".\n"
      "Only one program per machine can hear these broadcasts; a second one still announces itself.";

const QString kSystemDefaultName = QStringLiteral("System default");

const char *const kCodecNames[] = { "gsm610", "pcm8", "pcm11", "pcm22", "lh4", "lh8" };

// The codec option's help, from the drivers this system has.
QString codecHelp()
{
    QStringList usable, missing;
    for (const char *name : kCodecNames)
        (hasCodecDriver(*codecByName(QLatin1String(name))) ? usable : missing) << QLatin1String(name);
    QString help = QStringLiteral("Codec of a placed call: %1 (the first is the default). The side that is called "
                                  "adopts it.")
                       .arg(usable.join(QStringLiteral(", ")));
    if (!missing.isEmpty())
        help += QStringLiteral(" %1 %2 no codec driver on this system.")
                    .arg(missing.join(QStringLiteral(" and ")), missing.size() == 1 ? "has" : "have");
    return help;
}

bool parseNumber(const QString &text, int low, int high, int &value)
{
    bool ok = false;
    const int number = text.toInt(&ok);
    if (!ok || number < low || number > high)
        return false;
    value = number;
    return true;
}

} // namespace

std::optional<call::Tverbinding> codecByName(const QString &name)
{
    const QString key = name.toLower();
    if (key == QLatin1String("gsm610") || key == QLatin1String("gsm"))
        return call::Tverbinding::GSM610;
    if (key == QLatin1String("pcm8"))
        return call::Tverbinding::PCM8;
    if (key == QLatin1String("pcm11"))
        return call::Tverbinding::PCM11;
    if (key == QLatin1String("pcm22"))
        return call::Tverbinding::PCM22;
    if (key == QLatin1String("lh4"))
        return call::Tverbinding::LERNOUT4;
    if (key == QLatin1String("lh8"))
        return call::Tverbinding::LERNOUT8;
    return std::nullopt;
}

bool hasCodecDriver(call::Tverbinding codec)
{
    const std::optional<wave::TACMWaveFormat> format = call::codecFormat(uint8_t(codec));
    return format && acm::findDriver(format->format.wFormatTag);
}

ParseResult parsePeerOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption help({ "h", "help" }, "Show this help and exit.");
    const QCommandLineOption port("port", "Local UDP port for calls (default 49217).", "n", "49217");
    const QCommandLineOption remotePort(
        "remote-port", "UDP port of the other side for a placed call (default: the same as --port).", "n");
    const QCommandLineOption pingPort("ping-port", "Local UDP port for pings (default 8001).", "n", "8001");
    const QCommandLineOption remotePingPort("remote-ping-port",
        "Ping port of the other side (default: the same as --ping-port; another copy on this machine has its "
        "own).",
        "n");
    const QCommandLineOption callTo("call", "Call this address (dotted IPv4 or host name) at start.", "address");
    const QCommandLineOption ping("ping", "Ask whether a copy answers at this address, on its ping port.", "address");
    const QCommandLineOption codec("codec", codecHelp(), "name", "gsm610");
    const QCommandLineOption playout("playout",
        "How received sound is queued for the speaker: standard (the default: four buffers held back at the start, "
        "about 1.7 % of buffers thinned at random to keep the delay from growing), adaptive (a queue that "
        "follows the measured jitter, buffers dropped only while it stands above that, a lower device "
        "latency), or off (as standard, without the thinning).",
        "mode", "standard");
    const QCommandLineOption input("input", "Use this WAV file as the microphone.", "file.wav");
    const QCommandLineOption output("output", "Write what is played to this WAV file.", "file.wav");
    const QCommandLineOption localIp("local-ip",
        "Address announced in call requests (default: the one this machine reaches the callee from).", "address");
    const QCommandLineOption mute("mute", "Listen only: never send this side's sound (half duplex).");
    const QCommandLineOption noAnswer(
        "no-answer", "Do not answer calls by itself: show them, and answer or reject them when told (see below).");
    const QCommandLineOption reject("reject", "Reject every call.");
    const QCommandLineOption text("text", "Send this text to the other side once a call is connected.", "message");
    const QCommandLineOption stay("stay", "Keep running after --call and --ping are done (they exit by default).");
    const QCommandLineOption duration("duration", "Hang up and exit after this many seconds.", "seconds");
    const QCommandLineOption wait(
        "wait", "Seconds a placed call or a ping waits for an answer (default 15).", "seconds", "15");
    const QCommandLineOption volume("volume", "Speaker volume during calls, 1 to 100.", "n");
    const QCommandLineOption noPresence(
        "no-presence", "Stay out of the presence exchange: announce nothing, hear nothing, keep no list.");
    const QCommandLineOption list("list",
        "Refresh the list of copies on the LAN, wait 3 seconds for their answers, print the list and exit "
        "(takes no calls).");
    const QCommandLineOption listDevices("list-devices",
        "Print the sound devices, one per line as \"input: <name>\" or \"output: <name>\" (\"System default\" "
        "first in each direction), and exit.");
    const QCommandLineOption inputDevice("input-device",
        "Use the microphone of this name (as --list-devices prints it) instead of the system default (\"System "
        "default\" names the default). A name that is not listed is refused with exit status 2: no other device "
        "is used in its place.",
        "name");
    const QCommandLineOption outputDevice(
        "output-device", "Use the speaker of this name, as --input-device does the microphone.", "name");
    parser.addOptions({ help, port, remotePort, pingPort, remotePingPort, callTo, ping, codec, playout, input, output, localIp,
        mute, noAnswer, reject, text, stay, duration, wait, volume, noPresence, list });
    parser.addOptions({ listDevices, inputDevice, outputDevice });

    ParseResult result;
    if (!parser.parse(arguments)) {
        result.message = parser.errorText() + QStringLiteral("\nTry --help.");
        result.exitCode = 2;
        return result;
    }
    if (parser.isSet(help)) {
        result.message = parser.helpText() + QLatin1Char('\n') + commandHelp() + QLatin1Char('\n') + exitStatusHelp();
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.message
            = QStringLiteral("Unexpected argument '%1'. Try --help.").arg(parser.positionalArguments().first());
        result.exitCode = 2;
        return result;
    }

    PeerOptions options;
    auto refuse = [&](const QString &why) {
        result.message = why + QStringLiteral(" Try --help.");
        result.exitCode = 2;
        return result;
    };
    if (!parseNumber(parser.value(port), 1, 65535, options.port))
        return refuse(QStringLiteral("--port must be a number from 1 to 65535."));
    options.remotePort = options.port;
    if (parser.isSet(remotePort) && !parseNumber(parser.value(remotePort), 1, 65535, options.remotePort))
        return refuse(QStringLiteral("--remote-port must be a number from 1 to 65535."));
    if (!parseNumber(parser.value(pingPort), 1, 65535, options.pingPort))
        return refuse(QStringLiteral("--ping-port must be a number from 1 to 65535."));
    if (options.pingPort == options.port)
        return refuse(QStringLiteral("--ping-port must differ from --port."));
    options.remotePingPort = options.pingPort;
    if (parser.isSet(remotePingPort) && !parseNumber(parser.value(remotePingPort), 1, 65535, options.remotePingPort))
        return refuse(QStringLiteral("--remote-ping-port must be a number from 1 to 65535."));
    const std::optional<call::Tverbinding> chosen = codecByName(parser.value(codec));
    if (!chosen)
        return refuse(QStringLiteral("Unknown codec '%1'.").arg(parser.value(codec)));
    options.codec = *chosen;
    // Refused at once: such a call could only end in "no answer".
    if (!hasCodecDriver(options.codec))
        return refuse(
            QStringLiteral("--codec %1: there is no codec driver for it on this system.").arg(parser.value(codec)));
    const QString playoutMode = parser.value(playout).toLower();
    if (playoutMode == QLatin1String("adaptive"))
        options.playout = call::Playout::Adaptive;
    else if (playoutMode == QLatin1String("off"))
        options.autoSynchronise = false;
    else if (playoutMode != QLatin1String("standard"))
        return refuse(QStringLiteral("--playout must be standard, adaptive or off."));
    options.callAddress = parser.value(callTo).trimmed();
    if (parser.isSet(callTo) && options.callAddress.isEmpty())
        return refuse(QStringLiteral("--call needs an address."));
    options.pingAddress = parser.value(ping).trimmed();
    options.inputWav = parser.value(input);
    if (parser.isSet(input) && !QFileInfo(options.inputWav).isReadable())
        return refuse(QStringLiteral("Cannot read the input file '%1'.").arg(options.inputWav));
    options.outputWav = parser.value(output);
    if (parser.isSet(output) && options.outputWav.isEmpty())
        return refuse(QStringLiteral("--output needs a file name."));
    if (options.inputWav.isEmpty() != options.outputWav.isEmpty())
        return refuse(
            QStringLiteral("--input and --output go together: the sound card is used for both or for neither."));
    options.localIp = parser.value(localIp).trimmed();
    // The address travels between the request's marker letters and is answered to as it stands:
    // only the plain dotted form of a usable address survives that.
    if (parser.isSet(localIp)) {
        const uint32_t address = platform::winsock::inetAddr(options.localIp);
        if (address == 0 || address == platform::winsock::kNoneAddress
            || platform::winsock::dottedText(address) != options.localIp)
            return refuse(QStringLiteral("--local-ip must be a dotted IPv4 address such as 192.168.0.7."));
    }
    options.mute = parser.isSet(mute);
    options.autoAnswer = !parser.isSet(noAnswer) && !parser.isSet(reject);
    options.reject = parser.isSet(reject);
    if (options.reject && parser.isSet(noAnswer))
        return refuse(QStringLiteral("--reject and --no-answer exclude each other."));
    options.text = parser.value(text);
    if (parser.isSet(text)) {
        const QString problem = textProblem(options.text);
        if (!problem.isEmpty())
            return refuse(QStringLiteral("--text: %1.").arg(problem));
    }
    options.stay = parser.isSet(stay);
    if (options.stay && !parser.isSet(callTo) && !parser.isSet(ping))
        return refuse(QStringLiteral("--stay keeps the peer running after --call or --ping; it needs one of them."));
    if (parser.isSet(duration) && !parseNumber(parser.value(duration), 1, 86400 * 365, options.durationSeconds))
        return refuse(QStringLiteral("--duration must be a whole number of seconds, at least 1."));
    if (!parseNumber(parser.value(wait), 1, 3600, options.waitSeconds))
        return refuse(QStringLiteral("--wait must be a number of seconds from 1 to 3600."));
    if (parser.isSet(volume) && !parseNumber(parser.value(volume), 1, 100, options.volume))
        return refuse(QStringLiteral("--volume must be a number from 1 to 100."));
    options.presence = !parser.isSet(noPresence);
    options.listOnly = parser.isSet(list);
    if (options.listOnly && !options.presence)
        return refuse(QStringLiteral("--list needs the presence exchange that --no-presence turns off."));
    if (options.listOnly && (parser.isSet(callTo) || parser.isSet(ping) || parser.isSet(duration)))
        return refuse(QStringLiteral("--list only lists: it takes no --call, --ping or --duration."));
    options.listDevices = parser.isSet(listDevices);
    if (options.listDevices && (parser.isSet(callTo) || parser.isSet(ping) || options.listOnly))
        return refuse(QStringLiteral("--list-devices only lists: it takes no --call, --ping or --list."));
    for (const auto &[option, name] :
        { std::pair { &inputDevice, &options.inputDevice }, std::pair { &outputDevice, &options.outputDevice } }) {
        if (!parser.isSet(*option))
            continue;
        *name = parser.value(*option);
        if (name->trimmed().isEmpty())
            return refuse(QStringLiteral("--%1 needs a device name.").arg(option->names().first()));
        if (!options.inputWav.isEmpty())
            return refuse(QStringLiteral("--%1 names a sound device; --input and --output replace the sound devices.")
                              .arg(option->names().first()));
        // The default's own entry in the list means the default.
        if (*name == kSystemDefaultName)
            name->clear();
    }
    result.options = options;
    return result;
}

QString deviceListing(wave::WaveBackend &backend)
{
    QString listing;
    const std::pair<const char *, QStringList> directions[]
        = { { "input", backend.inputDeviceNames() }, { "output", backend.outputDeviceNames() } };
    for (const auto &[direction, names] : directions) {
        listing += QStringLiteral("%1: %2\n").arg(QLatin1String(direction), kSystemDefaultName);
        for (const QString &name : names)
            listing += QStringLiteral("%1: %2\n").arg(QLatin1String(direction), name);
    }
    return listing;
}

QString deviceProblem(const PeerOptions &options, wave::WaveBackend &backend)
{
    QStringList problems;
    if (!options.inputDevice.isEmpty() && !backend.inputDeviceNames().contains(options.inputDevice))
        problems << QStringLiteral("There is no input device '%1'.").arg(options.inputDevice);
    if (!options.outputDevice.isEmpty() && !backend.outputDeviceNames().contains(options.outputDevice))
        problems << QStringLiteral("There is no output device '%1'.").arg(options.outputDevice);
    if (problems.isEmpty())
        return {};
    return problems.join(QLatin1Char(' ')) + QStringLiteral(" --list-devices shows the devices.");
}

} // namespace peer
