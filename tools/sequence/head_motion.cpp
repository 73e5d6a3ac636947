#include "tools/sequence/head_motion.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <random>

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;

// Where pointing keeps the head: the part of its range a user points with.
constexpr double kPointingReachX = 120, kPointingReachY = 50;

class PathBuilder {
public:
    PathBuilder(double fps, std::uint64_t seed) : m_fps(fps), m_rng(seed) {}

    double Uniform(double low, double high) { return std::uniform_real_distribution<double>(low, high)(m_rng); }
    double LogUniform(double low, double high) { return std::exp(Uniform(std::log(low), std::log(high))); }
    bool Chance(double p) { return Uniform(0, 1) < p; }
    double Sign() { return Chance(0.5) ? 1.0 : -1.0; }

    double Seconds() const { return static_cast<double>(m_path.at.size()) / m_fps; }
    int Frames(double seconds) const { return std::max(1, static_cast<int>(std::lround(seconds * m_fps))); }
    cv::Point2d Place() const { return m_place; }
    HeadPath& Path() { return m_path; }

    void Push(cv::Point2d p) { m_path.at.push_back(p); }
    void Hold(double seconds) {
        for (int i = Frames(seconds); i > 0; --i) Push(m_place);
    }
    // A minimum-jerk move, the smooth bell-shaped speed of a practised reaching movement.
    void MoveTo(cv::Point2d to, double seconds) {
        const cv::Point2d from = m_place;
        const int n = Frames(seconds);
        for (int i = 1; i <= n; ++i) {
            const double s = static_cast<double>(i) / n;
            Push(from + (to - from) * (s * s * s * (10 - 15 * s + 6 * s * s)));
        }
        m_place = to;
    }

    void Resting(double seconds);
    void Reading(double seconds);
    void Pointing(double seconds);
    void LookingAround(double seconds);
    void Talking(double seconds);
    void Shake(const ShakeStyle& style);
    void Activity(HeadActivity activity, double seconds);

    void AddTrackedHeadNoise();

private:
    double m_fps;
    std::mt19937_64 m_rng;
    cv::Point2d m_place;
    HeadPath m_path;
};

void PathBuilder::Resting(double seconds) {
    const double end = Seconds() + seconds;
    const cv::Point2d home = m_place;
    while (Seconds() < end) {
        Hold(Uniform(5, 20));
        MoveTo(home + cv::Point2d(Uniform(-3, 3), Uniform(-3, 3)), Uniform(0.5, 1.2));
    }
}

void PathBuilder::Reading(double seconds) {
    const double end = Seconds() + seconds;
    while (Seconds() < end) {
        const cv::Point2d top = m_place;
        const double width = Uniform(4, 12);
        for (int lines = static_cast<int>(Uniform(15, 30)); lines > 0 && Seconds() < end; --lines) {
            const cv::Point2d start = m_place;
            MoveTo(start + cv::Point2d(width, Uniform(0, 0.5)), Uniform(2, 5));
            MoveTo(start + cv::Point2d(0, Uniform(0.3, 1)), Uniform(0.25, 0.5));
        }
        MoveTo(top, Uniform(0.5, 0.9));  // the next page
        Hold(Uniform(1, 3));
    }
}

void PathBuilder::Pointing(double seconds) {
    const double end = Seconds() + seconds;
    const auto within = [](cv::Point2d p) {
        return cv::Point2d(std::clamp(p.x, -kPointingReachX, kPointingReachX),
                           std::clamp(p.y, -kPointingReachY, kPointingReachY));
    };
    const auto moveTime = [this](double distance) { return (0.2 + 0.005 * distance) * Uniform(0.8, 1.3); };
    while (Seconds() < end) {
        if (Chance(0.15)) {
            // Back and forth between two targets, clicking each.
            const cv::Point2d a = m_place, b = within(a + cv::Point2d(Sign() * Uniform(10, 80), Uniform(-10, 10)));
            const double distance = cv::norm(b - a);
            for (int n = static_cast<int>(Uniform(3, 9)); n > 0; --n) {
                MoveTo(n % 2 ? b : a, moveTime(distance));
                Hold(Uniform(0.25, 1.0));
            }
            continue;
        }
        const double distance = LogUniform(4, 100), angle = Uniform(0, kTwoPi);
        const cv::Point2d from = m_place;
        const cv::Point2d target =
            within(from + cv::Point2d(distance * std::cos(angle), 0.7 * distance * std::sin(angle)));
        if (Chance(0.4)) {
            MoveTo(target + (target - from) * Uniform(0.05, 0.2), moveTime(distance));
            MoveTo(target, Uniform(0.15, 0.3));
        } else {
            MoveTo(target, moveTime(distance));
        }
        // A stop on the way, or a rest to click.
        Hold(Chance(0.2) ? Uniform(0.1, 0.3) : Uniform(0.3, 3.0));
    }
}

void PathBuilder::LookingAround(double seconds) {
    const double end = Seconds() + seconds;
    const cv::Point2d home = m_place;
    const auto look = [this] { return Chance(0.3) ? Uniform(0.15, 0.5) : Uniform(0.5, 4); };
    while (Seconds() < end) {
        Hold(Uniform(2, 10));
        const double side = Sign();
        MoveTo(home + cv::Point2d(side * Uniform(30, 150), Uniform(-30, 20)), Uniform(0.3, 0.7));
        Hold(look());
        if (Chance(0.4)) {
            MoveTo(home + cv::Point2d(-side * Uniform(30, 150), Uniform(-30, 20)), Uniform(0.4, 0.8));
            Hold(look());
        }
        MoveTo(home + cv::Point2d(Uniform(-3, 3), Uniform(-3, 3)), Uniform(0.3, 0.7));
    }
}

void PathBuilder::Talking(double seconds) {
    const int frames = Frames(seconds);
    const cv::Point2d home = m_place;
    struct Wave {
        double hertz, size, phase;
    };
    std::array<Wave, 4> xs{}, ys{};
    for (auto* waves : {&xs, &ys})
        for (Wave& w : *waves) w = {Uniform(0.3, 2.5), Uniform(0.3, 1.2), Uniform(0, kTwoPi)};
    double nextNod = Uniform(2, 6), nodStart = -1, nodLength = 0, nodSize = 0;
    for (int i = 0; i < frames; ++i) {
        const double t = i / m_fps;
        cv::Point2d p = home;
        for (const Wave& w : xs) p.x += w.size * (std::sin(kTwoPi * w.hertz * t + w.phase) - std::sin(w.phase));
        for (const Wave& w : ys) p.y += w.size * (std::sin(kTwoPi * w.hertz * t + w.phase) - std::sin(w.phase));
        if (t >= nextNod) {
            nodStart = t, nodLength = Uniform(0.4, 0.7), nodSize = Uniform(3, 8);
            nextNod = t + nodLength + Uniform(2, 6);
        }
        if (t >= nodStart && t < nodStart + nodLength)
            p.y += nodSize * std::sin(std::numbers::pi * (t - nodStart) / nodLength);
        Push(p);
    }
    m_place = m_path.at.back();
}

void PathBuilder::Shake(const ShakeStyle& style) {
    const double hertz = style.hertz * Uniform(0.9, 1.1), half = 0.5 * style.swing * Uniform(0.85, 1.15);
    const double side = Sign(), fade = Uniform(0, 0.3), nod = Uniform(0, 0.15);
    const double length = 1.5 / hertz;
    const cv::Point2d centre = m_place;
    const int first = static_cast<int>(m_path.at.size());
    for (int i = 1, n = Frames(length); i <= n; ++i) {
        const double t = i / m_fps;
        const double size = half * (1 - fade * t / length);
        Push(centre +
             cv::Point2d(side * size * std::sin(kTwoPi * hertz * t), nod * half * std::sin(2 * kTwoPi * hertz * t)));
    }
    m_path.shakes.emplace_back(first, static_cast<int>(m_path.at.size()) - 1);
    m_place = m_path.at.back();
}

void PathBuilder::Activity(HeadActivity activity, double seconds) {
    switch (activity) {
        case HeadActivity::Resting:
            return Resting(seconds);
        case HeadActivity::Reading:
            return Reading(seconds);
        case HeadActivity::Pointing:
            return Pointing(seconds);
        case HeadActivity::LookingAround:
            return LookingAround(seconds);
        case HeadActivity::Talking:
            return Talking(seconds);
        case HeadActivity::Mixed: {
            const double end = Seconds() + seconds;
            std::discrete_distribution<int> pick({20, 25, 35, 10, 10});
            while (Seconds() < end) Activity(static_cast<HeadActivity>(pick(m_rng)), Uniform(20, 120));
            return;
        }
    }
}

// What a tracked head carries besides its intended motion, in picture pixels.
void PathBuilder::AddTrackedHeadNoise() {
    std::normal_distribution<double> jitter(0, 0.15), wander(0, 0.02);
    const double breath = Uniform(0.2, 0.33), breathPhase = Uniform(0, kTwoPi), tremorPhase = Uniform(0, kTwoPi);
    cv::Point2d error;
    for (std::size_t i = 0; i < m_path.at.size(); ++i) {
        const double t = static_cast<double>(i) / m_fps;
        error = error * 0.999 + cv::Point2d(wander(m_rng), wander(m_rng));
        const double sway = std::sin(kTwoPi * breath * t + breathPhase);
        const double tremor = 0.1 * std::sin(kTwoPi * 6 * t + tremorPhase);
        m_path.at[i] += error + cv::Point2d(0.4 * sway + tremor + jitter(m_rng), 0.8 * sway + jitter(m_rng));
    }
}

}  // namespace

std::string_view ActivityName(HeadActivity activity) {
    switch (activity) {
        case HeadActivity::Resting:
            return "resting";
        case HeadActivity::Reading:
            return "reading";
        case HeadActivity::Pointing:
            return "pointing";
        case HeadActivity::LookingAround:
            return "looking-around";
        case HeadActivity::Talking:
            return "talking";
        case HeadActivity::Mixed:
            return "mixed";
    }
    return "?";
}

HeadPath OrdinaryHeadPath(HeadActivity activity, double seconds, double fps, std::uint64_t seed) {
    PathBuilder builder(fps, seed);
    builder.Activity(activity, seconds);
    HeadPath& path = builder.Path();
    path.at.resize(static_cast<std::size_t>(builder.Frames(seconds)), builder.Place());
    builder.AddTrackedHeadNoise();
    return std::move(path);
}

HeadPath ShakingHeadPath(const std::vector<ShakeStyle>& styles, double fps, std::uint64_t seed) {
    PathBuilder builder(fps, seed);
    for (const ShakeStyle& style : styles) {
        builder.Pointing(builder.Uniform(15, 40));
        builder.Hold(builder.Uniform(0.3, 2));
        builder.Shake(style);
        builder.Hold(builder.Uniform(1, 3));
    }
    builder.AddTrackedHeadNoise();
    return std::move(builder.Path());
}

namespace {
constexpr double kSequenceFps = 30;
constexpr std::uint64_t kSequenceSeed = 0x5eed'0d1a;
}  // namespace

HeadPath OrdinarySequencePath(int frames) {
    return OrdinaryHeadPath(HeadActivity::Mixed, frames / kSequenceFps, kSequenceFps, kSequenceSeed);
}

HeadPath ShakesSequencePath(int frames) {
    PathBuilder builder(kSequenceFps, kSequenceSeed);
    for (std::size_t k = 0; builder.Seconds() * kSequenceFps < frames; ++k) {
        builder.Hold(1.0);
        builder.Shake(kSequenceShakes[k % kSequenceShakes.size()]);
        builder.Hold(1.0);
        builder.MoveTo(builder.Place() + cv::Point2d(25, 0), 1.0);
        builder.MoveTo(builder.Place() - cv::Point2d(25, 0), 1.0);
        builder.Hold(0.5);
    }
    HeadPath& path = builder.Path();
    path.at.resize(static_cast<std::size_t>(frames));
    while (!path.shakes.empty() && path.shakes.back().second >= frames) path.shakes.pop_back();
    builder.AddTrackedHeadNoise();
    return std::move(path);
}
