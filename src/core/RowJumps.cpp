#include "RowJumps.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace quillex {

namespace {

// Three frames of the pacing may pass without a row before the picture counts as broken, and
// half a second at least: a desktop's scheduling holds up a fast pacing by 75-150 ms now and
// then, which no one would call a gap.
constexpr double GapFrames = 3.0;
constexpr double MinGapSeconds = 0.5;

std::string Format(const char* Pattern, double Value)
{
    char text[48];
    std::snprintf(text, sizeof text, Pattern, Value);
    return text;
}

} // namespace

TJump FindJump(const TRowState& Before, const TRowState& After)
{
    TJump jump;
    if (Before.Source != After.Source) {
        jump.Reasons |= After.Source == TRowSource::Live ? JumpLive : JumpFile;
    } else if (After.Source == TRowSource::File) {
        if (After.FileId != Before.FileId)
            jump.Reasons |= JumpFile;
        else if (After.Record != Before.Record + 1)
            jump.Reasons |= JumpSeek;
    } else {
        const double period = std::max(std::min(Before.FramePeriod, After.FramePeriod), 0.0);
        const double apart = After.Time - Before.Time;
        if (std::fabs(apart) > std::max(GapFrames * period, MinGapSeconds)) {
            jump.Reasons |= apart > 0 ? JumpGap : JumpClock;
            jump.GapSeconds = apart;
        }
    }
    if (After.SpanKHz != Before.SpanKHz)
        jump.Reasons |= JumpSpan;
    if (After.CentreKHz != Before.CentreKHz)
        jump.Reasons |= JumpCentre;
    if (After.FftSize != Before.FftSize)
        jump.Reasons |= JumpFft;
    if (After.Window != Before.Window)
        jump.Reasons |= JumpWindow;
    if (After.Averaging != Before.Averaging)
        jump.Reasons |= JumpAveraging;
    if (After.FreqOffset != Before.FreqOffset || After.LevelOffset != Before.LevelOffset)
        jump.Reasons |= JumpOffset;
    if (After.Inverted != Before.Inverted)
        jump.Reasons |= JumpMirror;
    return jump;
}

// Each unit up to where its rounded text would reach the next unit's.
std::string GapText(double Seconds)
{
    if (Seconds < 0.9995)
        return Format("%.0f ms", Seconds * 1000);
    if (Seconds < 9.95)
        return Format("%.1f s", Seconds);
    if (Seconds < 119.5)
        return Format("%.0f s", Seconds);
    if (Seconds < 119.5 * 60)
        return Format("%.0f min", Seconds / 60);
    return Format("%.0f h", Seconds / 3600);
}

std::string JumpLabel(const TJump& Jump)
{
    std::string label;
    const auto add = [&](const std::string& Word) {
        if (!label.empty())
            label += ", ";
        label += Word;
    };
    if (Jump.Reasons & JumpGap)
        add("gap " + GapText(Jump.GapSeconds));
    if (Jump.Reasons & JumpClock)
        add("clock");
    static const std::pair<unsigned, const char*> words[] = {
        {JumpLive, "live"},     {JumpFile, "file"},           {JumpSeek, "seek"},
        {JumpSpan, "span"},     {JumpCentre, "centre"},       {JumpFft, "FFT"},
        {JumpWindow, "window"}, {JumpAveraging, "averaging"}, {JumpOffset, "offset"},
        {JumpMirror, "mirror"}};
    for (const auto& [reason, word] : words)
        if (Jump.Reasons & reason)
            add(word);
    return label;
}

} // namespace quillex
