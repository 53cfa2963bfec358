#pragma once

#include "core/observable.h"

#include <memory>
#include <utility>
#include <vector>

namespace tavoro::ui {

// Keeps a widget showing observable fields: each followed field is shown at once and again on every
// change, for as long as the Followers live. GUI (main) thread only.
class Followers {
public:
    template <typename T, typename Show>
    void follow(core::Observable<T>& field, Show show)
    {
        show(field.get());
        held_.push_back(std::make_shared<typename core::Observable<T>::Subscription>(field.subscribe(std::move(show))));
    }

private:
    std::vector<std::shared_ptr<void>> held_; // each a subscription, of whatever field type
};

} // namespace tavoro::ui
