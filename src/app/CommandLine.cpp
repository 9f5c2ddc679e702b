#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QRegularExpression>

#include <array>
#include <cmath>
#include <utility>

namespace {

using Option = std::pair<LaunchMode, const char *>;

// Dispatch order: earlier rows win.
constexpr std::array<Option, 12> kOptions {{
    {LaunchMode::ExportSelfTest, "--selftest-export"},
    {LaunchMode::RecordSelfTest, "--selftest-record"},
    {LaunchMode::OpsSelfTest, "--selftest-ops"},
    {LaunchMode::LoopSelfTest, "--selftest-loop"},
    {LaunchMode::QualityMatrix, "--selftest-qualitymatrix"},
    {LaunchMode::CloseSelfTest, "--selftest-close"},
    {LaunchMode::StopRaceSelfTest, "--selftest-stoprace"},
    {LaunchMode::ResizeField, "--selftest-resizefield"},
    {LaunchMode::ResizeSheet, "--selftest-resizesheet"},
    {LaunchMode::ResizeKeys, "--selftest-resizekeys"},
    {LaunchMode::Zoom, "--selftest-zoom"},
    {LaunchMode::EditorSelfTest, "--selftest"},
}};

// QApplication reads these itself (and removes them); the parser only has to
// know them so that they are not taken for mistakes.
constexpr std::array<const char *, 14> kQtValueOptions {"platform", "platformpluginpath", "platformtheme", "plugin",
    "qwindowgeometry", "qwindowicon", "qwindowtitle", "style", "stylesheet", "session", "display", "geometry", "title",
    "name"};
constexpr std::array<const char *, 5> kQtFlagOptions {"reverse", "widgetcount", "nograb", "dograb", "sync"};

// The command line without the self-test family, which keeps its own rules
// (an exact word, or any word with the prefix; a path after the export one).
QStringList withoutSelfTests(const QStringList &arguments)
{
    QStringList rest;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (i > 0 && argument.startsWith(QLatin1String("--selftest"))) {
            if (argument == QLatin1String("--selftest-export"))
                ++i;
            continue;
        }
        rest << argument;
    }
    return rest;
}

std::optional<double> seconds(const QString &text, double max)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < 0 || value > max)
        return std::nullopt;
    return value;
}

std::optional<int64_t> wholeNumber(const QString &text, int64_t min, int64_t max)
{
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    if (!ok || value < min || value > max)
        return std::nullopt;
    return value;
}

ParsedCommandLine usageError(const QString &message)
{
    ParsedCommandLine parsed;
    parsed.action = ParsedCommandLine::Action::UsageError;
    parsed.error = message;
    return parsed;
}

} // namespace

namespace CommandLine {

ParsedCommandLine parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    // "-platform xcb" is how Qt spells its options; ours read the same with one
    // dash or two.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList {QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList {QStringLiteral("v"), QStringLiteral("version")});
    const QCommandLineOption record(QStringLiteral("record"), {}, QStringLiteral("WxH+X+Y"));
    const QCommandLineOption duration(QStringLiteral("duration"), {}, QStringLiteral("SECONDS"));
    const QCommandLineOption fps(QStringLiteral("fps"), {}, QStringLiteral("N"));
    const QCommandLineOption encoder(QStringLiteral("encoder"), {}, QStringLiteral("NAME"));
    const QCommandLineOption quality(QStringLiteral("quality"), {}, QStringLiteral("LEVEL"));
    const QCommandLineOption loop(QStringLiteral("loop"), {}, QStringLiteral("N"));
    const QCommandLineOption delay(QStringLiteral("delay"), {}, QStringLiteral("SECONDS"));
    const QCommandLineOption output(QStringLiteral("output"), {}, QStringLiteral("FILE"));
    parser.addOptions({help, version, record, duration, fps, encoder, quality, loop, delay, output});
    for (const char *name : kQtValueOptions)
        parser.addOption(QCommandLineOption(QString::fromLatin1(name), {}, QStringLiteral("value")));
    for (const char *name : kQtFlagOptions)
        parser.addOption(QCommandLineOption(QString::fromLatin1(name)));

    QStringList rest = withoutSelfTests(arguments);
    if (rest.isEmpty())
        rest << QStringLiteral("quillo");
    if (!parser.parse(rest))
        return usageError(parser.errorText());
    if (parser.isSet(help))
        return {ParsedCommandLine::Action::Help, {}, {}};
    if (parser.isSet(version))
        return {ParsedCommandLine::Action::Version, {}, {}};
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().first()));

    const QList<QCommandLineOption> recordOnly = {duration, fps, encoder, quality, loop, delay, output};
    if (!parser.isSet(record)) {
        for (const QCommandLineOption &option : recordOnly) {
            if (parser.isSet(option))
                return usageError(QStringLiteral("--%1 only applies to --record.").arg(option.names().first()));
        }
        return {};
    }

    RecordRequest request;
    static const QRegularExpression geometry(QStringLiteral("^(\\d{1,5})x(\\d{1,5})\\+(\\d{1,5})\\+(\\d{1,5})$"));
    const auto match = geometry.match(parser.value(record));
    if (!match.hasMatch() || match.captured(1).toInt() < 1 || match.captured(2).toInt() < 1)
        return usageError(
            QStringLiteral("--record wants WIDTHxHEIGHT+X+Y in screen pixels, e.g. 640x420+100+80; got '%1'.")
                .arg(parser.value(record)));
    request.region = QRect(
        match.captured(3).toInt(), match.captured(4).toInt(), match.captured(1).toInt(), match.captured(2).toInt());

    if (!parser.isSet(duration))
        return usageError(QStringLiteral("--record needs --duration SECONDS."));
    const std::optional<double> durationValue = seconds(parser.value(duration), 24 * 3600);
    if (!durationValue || *durationValue <= 0)
        return usageError(
            QStringLiteral("--duration wants a number of seconds above 0; got '%1'.").arg(parser.value(duration)));
    request.durationSeconds = *durationValue;

    if (!parser.isSet(output) || parser.value(output).isEmpty())
        return usageError(QStringLiteral("--record needs --output FILE (.gif or .mp4)."));
    request.output = parser.value(output);
    const QString suffix = QFileInfo(request.output).suffix().toLower();
    if (suffix != QLatin1String("gif") && suffix != QLatin1String("mp4"))
        return usageError(QStringLiteral("--output must end in .gif or .mp4; got '%1'.").arg(request.output));
    request.mp4 = suffix == QLatin1String("mp4");

    if (parser.isSet(fps)) {
        const std::optional<int64_t> value = wholeNumber(parser.value(fps), 1, 60);
        if (!value)
            return usageError(
                QStringLiteral("--fps wants a whole number from 1 to 60; got '%1'.").arg(parser.value(fps)));
        request.fps = *value;
    }
    if (parser.isSet(encoder)) {
        const QString name = parser.value(encoder);
        if (name == QLatin1String("builtin"))
            request.encoder = GifEncoder::imageIO;
        else if (name == QLatin1String("ffmpeg"))
            request.encoder = GifEncoder::ffmpeg;
        else if (name == QLatin1String("gifski"))
            request.encoder = GifEncoder::gifski;
        else
            return usageError(QStringLiteral("--encoder wants builtin, ffmpeg or gifski; got '%1'.").arg(name));
    }
    if (parser.isSet(quality)) {
        const QString name = parser.value(quality);
        std::optional<GifQuality> level;
        for (const GifQuality q : allGifQualities) {
            if (caseName(q) == name)
                level = q;
        }
        if (!level)
            return usageError(QStringLiteral("--quality wants low, medium, high or max; got '%1'.").arg(name));
        request.quality = *level;
    }
    if (parser.isSet(loop)) {
        // The GIF loop field holds 16 bits.
        const std::optional<int64_t> value = wholeNumber(parser.value(loop), 0, 65535);
        if (!value)
            return usageError(QStringLiteral("--loop wants a whole number from 0 (forever) to 65535; got '%1'.")
                                  .arg(parser.value(loop)));
        request.loopCount = *value;
    }
    if (parser.isSet(delay)) {
        const std::optional<double> value = seconds(parser.value(delay), 3600);
        if (!value)
            return usageError(
                QStringLiteral("--delay wants a number of seconds from 0 to 3600; got '%1'.").arg(parser.value(delay)));
        request.delaySeconds = *value;
    }
    ParsedCommandLine parsed;
    parsed.record = request;
    return parsed;
}

QString usage()
{
    return QStringLiteral("Usage: quillo [--record WxH+X+Y --duration SECONDS --output FILE [OPTION...]]\n"
                          "\n"
                          "Records a part of the screen, lets you edit the frames and exports an\n"
                          "animated GIF or an MP4. Without options it shows the recording frame.\n"
                          "\n"
                          "Options:\n"
                          "  -h, --help            show this help and exit\n"
                          "  -v, --version         show the version and exit\n"
                          "  --record WxH+X+Y      record this region without the frame or the editor,\n"
                          "                        in screen pixels from the top-left (as xwininfo shows)\n"
                          "  --duration SECONDS    how long to record (required with --record)\n"
                          "  --output FILE         the file to write, .gif or .mp4 (required with --record)\n"
                          "  --fps N               frames per second, 1 to 60 (default 15)\n"
                          "  --encoder NAME        builtin, ffmpeg or gifski (default: the best one installed)\n"
                          "  --quality LEVEL       low, medium, high or max (default high)\n"
                          "  --loop N              plays of the GIF, 0 = forever (default 0)\n"
                          "  --delay SECONDS       wait this long before recording (default 0)\n"
                          "  --selftest-...        built-in self-tests, see quillo(1)\n"
                          "\n"
                          "SIGINT or SIGTERM ends a recording early; what was recorded is still written.\n"
                          "Exit status: 0 done, 1 failed, 2 wrong usage.\n");
}

QString versionText()
{
    return QStringLiteral("quillo " QUILLO_VERSION);
}

LaunchChoice choose(const QStringList &arguments)
{
    for (const auto &[mode, option] : kOptions) {
        const qsizetype at = arguments.indexOf(QLatin1String(option));
        if (at < 0)
            continue;
        LaunchChoice choice {mode, {}};
        if (mode == LaunchMode::ExportSelfTest)
            choice.exportBasePath = at + 1 < arguments.size() ? arguments.at(at + 1) : QStringLiteral("/tmp/quillo");
        return choice;
    }
    return {};
}

bool isSelfTest(const QStringList &arguments)
{
    for (const QString &argument : arguments) {
        if (argument.startsWith(QLatin1String("--selftest")))
            return true;
    }
    return false;
}

QString optionName(LaunchMode mode)
{
    for (const auto &[m, option] : kOptions) {
        if (m == mode)
            return QLatin1String(option);
    }
    return {};
}

} // namespace CommandLine
