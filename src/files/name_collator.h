#pragma once

#include <memory>
#include <string_view>

namespace tavoro::files {

// Orders item names the way a person reading a listing expects: case-insensitive and aware of the
// language of the environment's locale (the root collation when the environment names none or only
// "C"/POSIX), with names that compare equal that way ordered by their bytes. Names are UTF-8.
//
// Not thread-safe: one thread uses an instance at a time.
class NameCollator {
public:
    NameCollator();
    ~NameCollator();
    NameCollator(const NameCollator&) = delete;
    NameCollator& operator=(const NameCollator&) = delete;

    bool less(std::string_view a, std::string_view b) const;

private:
    int compare(std::string_view a, std::string_view b) const;

    struct Icu;
    std::unique_ptr<Icu> icu_; // its collator is null when ICU offers none: plain byte order then
};

} // namespace tavoro::files
