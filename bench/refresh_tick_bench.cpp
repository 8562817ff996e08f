// The 50 ms register refresh as the window runs it: the model recomputes all
// four channels, then the window renders the model into the real widgets
// (offscreen). Measured with nothing changing (the usual case: the operator
// is not typing) and with every frequency-dependent text changing on every
// tick (the worst case), each without and with the repaint the event loop
// does afterwards.
#include <QApplication>
#include <QWindow>
#include <memory>

#include "bench_support.h"
#include "fakes.h"
#include "form_window.h"
#include "frequency.h"
#include "recv_profile.h"
#include "send_profile.h"

namespace {

using testing_support::Harness;
using window::FormWindow;
using window::TimerId;

constexpr double kTickPeriodUs = 50000;

// A tool's window on the fakes, in the debug layout: there the grid and the
// counters the refresh writes are on screen, so a repaint really paints them.
struct Window {
    explicit Window(const window::ToolProfile& profile) : h(profile) {
        testing_support::WriteFile(h.model.SettingsPath(), "DEBUG,ON,\r\n");
        win = std::make_unique<FormWindow>(h.model);
        h.StartUp();
        win->Render();
        win->show();
        const long long end = bench::MonotonicNs() + 5000000000LL;
        while (!(win->windowHandle() && win->windowHandle()->isExposed()) &&
               bench::MonotonicNs() < end) {
            QApplication::processEvents();
        }
        QApplication::processEvents();
    }
    void Tick() {
        win->Handle([this] { h.model.OnTimer(TimerId::IntervalTimer); });
    }
    Harness h;
    std::unique_ptr<FormWindow> win;
};

// Everything the refresh shows for one frequency text, as display strings.
std::vector<std::string> Shown(const window::ToolProfile& profile, const std::string& text) {
    const module::ChannelSynthesis r = profile.Kind().synthesize(text);
    std::vector<std::string> out = r.registers;
    if (profile.HasCounters()) {
        out.push_back(r.stepText);
        out.push_back(r.loValid ? channel::FormatFixed(r.loFrequency, 4) : "--");
        out.push_back(r.rCounter);
        out.push_back(r.programCounter);
        out.push_back(r.swallowCounter);
    }
    return out;
}

// Two accepted, exactly producible presets that differ in the most shown
// values; every box switches between them, so each tick rewrites as many
// cells as the channel plan allows.
struct Alternation {
    std::string a, b;
    int changingCells = 0;  // per tick, over the four channels
    int cells = 0;
};

Alternation FindAlternation(const window::ToolProfile& profile) {
    std::vector<std::pair<std::string, std::vector<std::string>>> candidates;
    for (const std::string& p : channel::FrequencyPresetList()) {
        if (!module::ChannelAcceptable(profile.Kind(), p)) continue;
        const module::ChannelSynthesis r = profile.Kind().synthesize(p);
        if (r.hasComma || r.inexact) continue;
        candidates.emplace_back(p, Shown(profile, p));
    }
    Alternation alt;
    int best = -1;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        for (std::size_t j = i + 1; j < candidates.size(); ++j) {
            const auto& x = candidates[i].second;
            const auto& y = candidates[j].second;
            int diff = 0;
            for (std::size_t k = 0; k < x.size() && k < y.size(); ++k) diff += x[k] != y[k];
            if (diff > best) {
                best = diff;
                alt.a = candidates[i].first;
                alt.b = candidates[j].first;
            }
        }
    }
    alt.changingCells = 4 * best;
    alt.cells = 4 * static_cast<int>(candidates.front().second.size());
    return alt;
}

struct Result {
    double usPerTick = 0;
    double writesPerTick = 0;
};

// Runs `ticks` iterations of step (after a warm-up) and times them.
template <typename Step>
Result Time(Window& w, long ticks, bool repaint, Step step) {
    for (long i = 0; i < std::min(ticks / 10, 200L); ++i) {
        step();
        if (repaint) QApplication::processEvents();
    }
    const long writesBefore = w.win->WidgetWrites();
    const long long start = bench::MonotonicNs();
    for (long i = 0; i < ticks; ++i) {
        step();
        if (repaint) QApplication::processEvents();
    }
    const long long end = bench::MonotonicNs();
    Result r;
    r.usPerTick = static_cast<double>(end - start) / 1000.0 / static_cast<double>(ticks);
    r.writesPerTick =
        static_cast<double>(w.win->WidgetWrites() - writesBefore) / static_cast<double>(ticks);
    return r;
}

void RunTool(const std::string& tool, const window::ToolProfile& profile, long ticks,
             long repaintTicks) {
    Window w(profile);
    const Alternation alt = FindAlternation(profile);
    // Put the boxes on the plan the alternation starts from.
    for (int i = 0; i < 4; ++i) w.h.model.SetFrequencyText(i, alt.a);
    w.Tick();
    QApplication::processEvents();

    auto same = [&w] { w.Tick(); };
    // The operator's edit of the four boxes (model only), each time to the
    // other plan; the tick and the render that follow show it.
    bool onB = false;
    auto edit = [&w, &alt, &onB] {
        onB = !onB;
        for (int c = 0; c < 4; ++c) w.h.model.SetFrequencyText(c, onB ? alt.b : alt.a);
    };
    auto changing = [&w, &edit] {
        edit();
        w.Tick();
    };
    auto editOnly = [&w, &edit] {
        edit();
        w.win->Render();
    };

    const Result unchanged = Time(w, ticks, false, same);
    const Result changed = Time(w, ticks, false, changing);
    const Result edited = Time(w, ticks, false, editOnly);
    const Result unchangedPaint = Time(w, repaintTicks, true, same);
    const Result changedPaint = Time(w, repaintTicks, true, changing);

    std::printf("%s: every box alternates %s/%s: %d of %d shown values change\n", tool.c_str(),
                alt.a.c_str(), alt.b.c_str(), alt.changingCells, alt.cells);
    std::printf("%s: box edit alone (4 boxes + render): %.1f us, %.1f widget writes\n",
                tool.c_str(), edited.usPerTick, edited.writesPerTick);

    const std::string share = "a tick every 50 ms: 500 us = 1 % of a core";
    auto pct = [](double us) { return us / kTickPeriodUs * 100.0; };
    bench::Row(
        tool + ": nothing changes (usual case)",
        bench::Format("%.1f us/tick, %.0f widget writes (%.3f %% of a core)", unchanged.usPerTick,
                      unchanged.writesPerTick, pct(unchanged.usPerTick)),
        share);
    bench::Row(tool + bench::Format(": every tick changes (%d of %d values)", alt.changingCells,
                                    alt.cells),
               bench::Format("%.1f us/tick, %.0f widget writes (%.2f %% of a core)",
                             changed.usPerTick, changed.writesPerTick, pct(changed.usPerTick)),
               bench::Format("the 4 box edits + render alone: %.1f us", edited.usPerTick));
    bench::Row(tool + ": nothing changes, with repaint",
               bench::Format("%.1f us/tick (%.3f %% of a core)", unchangedPaint.usPerTick,
                             pct(unchangedPaint.usPerTick)),
               share);
    bench::Row(tool + ": every tick changes, with repaint",
               bench::Format("%.1f us/tick (%.2f %% of a core)", changedPaint.usPerTick,
                             pct(changedPaint.usPerTick)),
               share);
}

}  // namespace

int main(int argc, char** argv) {
    const long ticks = bench::Option(argc, argv, "--ticks", 20000);
    const long repaintTicks = bench::Option(argc, argv, "--repaint-ticks", 2000);
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    bench::Section(bench::Format(
        "Refresh tick: 4 channels, model + render into the widgets (debug layout, offscreen; "
        "%ld ticks, %ld with repaint)",
        ticks, repaintTicks));
    RunTool("recvsetup", RecvSetupProfile(), ticks, repaintTicks);
    RunTool("sendsetup", SendSetupProfile(), ticks, repaintTicks);
    return 0;
}
