#pragma once

namespace tavoro::ui {

// Wheel steps as they travel: whole notches, positive dy scrolling up (away from the user) and
// positive dx scrolling left, as the local wheel did.
struct WheelSteps {
    int dx = 0;
    int dy = 0;
    bool operator==(const WheelSteps&) const = default;
};

// Turns wheel rotation in eighths of a degree (120 to a notch; touchpads and smooth wheels deliver
// fractions of it) into whole notches: each axis rounds its total half away from zero and carries the
// rest into the next event, so that the notches sent never drift from the rotation by more than half a
// notch. One per view, on the thread that delivers its events.
class WheelNotches {
public:
    static constexpr int unitsPerNotch = 120;

    WheelSteps add(int angleDx, int angleDy);
    void reset();

private:
    static int take(long long& carry, int delta);

    long long carryX_ = 0;
    long long carryY_ = 0;
};

} // namespace tavoro::ui
