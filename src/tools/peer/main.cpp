#include "peer.h"
#include "peeroptions.h"

#include "framework/application.h"
#include "platform/wave/backend.h"
#include "platform/wave/filebackend.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tobrel-peer"));
    QTextStream out(stdout);
    QTextStream err(stderr);

    const peer::ParseResult parsed = peer::parsePeerOptions(QCoreApplication::arguments());
    if (!parsed.options) {
        (parsed.exitCode == 0 ? out : err) << parsed.message << Qt::endl;
        return parsed.exitCode;
    }
    const peer::PeerOptions &options = *parsed.options;

    framework::Application::setExceptionHandler(
        [&out](QObject *, const QString &message) { out << "error: " << message << Qt::endl; });
    framework::Application::setShowMessageHandler(
        [&out](const QString &text) { out << "message: " << text.trimmed() << Qt::endl; });

    if (options.listDevices) {
        out << peer::deviceListing(*wave::currentBackend()) << Qt::flush;
        wave::setBackend(nullptr);
        return 0;
    }
    if (!options.inputDevice.isEmpty() || !options.outputDevice.isEmpty()) {
        const QString problem = peer::deviceProblem(options, *wave::currentBackend());
        if (!problem.isEmpty()) {
            err << problem << Qt::endl;
            wave::setBackend(nullptr);
            return 2;
        }
        wave::setChosenDevice(true, options.inputDevice);
        wave::setChosenDevice(false, options.outputDevice);
    }

    if (!options.inputWav.isEmpty()) {
        auto files = std::make_shared<wave::FileBackend>(options.inputWav, options.outputWav);
        if (!files->inputError().isEmpty()) {
            err << "Cannot use the input file: " << files->inputError() << Qt::endl;
            return 2;
        }
        wave::setBackend(files);
    }

    peer::Peer peer(options, out);
    if (!peer.start())
        return peer.exitStatus();
    const int code = QCoreApplication::exec();
    wave::setBackend(nullptr);
    return code;
}
