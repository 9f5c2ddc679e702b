#include "app/CommandLine.h"

#include <array>
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

} // namespace

namespace CommandLine {

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
