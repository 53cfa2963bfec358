#include "ui/logic/wheel_notches.h"

namespace tavoro::ui {

WheelSteps WheelNotches::add(int angleDx, int angleDy) { return {take(carryX_, angleDx), take(carryY_, angleDy)}; }

void WheelNotches::reset()
{
    carryX_ = 0;
    carryY_ = 0;
}

int WheelNotches::take(long long& carry, int delta)
{
    const long long total = carry + delta;
    const long long half = unitsPerNotch / 2;
    const long long notches = total >= 0 ? (total + half) / unitsPerNotch : -((-total + half) / unitsPerNotch);
    carry = total - notches * unitsPerNotch;
    return static_cast<int>(notches);
}

} // namespace tavoro::ui
