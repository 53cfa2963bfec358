#include "files/name_collator.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/stringpiece.h>

namespace tavoro::files {
namespace {

// ICU maps the "C" and POSIX environments to en_US_POSIX, whose collation orders every capital
// before every small letter; the root collation is the neutral choice there.
icu::Locale listingLocale()
{
    icu::Locale locale = icu::Locale::getDefault();
    if (locale.isBogus() || std::string_view(locale.getVariant()) == "POSIX") {
        return icu::Locale::getRoot();
    }
    return locale;
}

std::unique_ptr<icu::Collator> makeCollator(const icu::Locale& locale)
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
    if (U_FAILURE(status)) {
        return nullptr;
    }
    collator->setStrength(icu::Collator::SECONDARY); // letters and accents count, case does not
    return collator;
}

} // namespace

struct NameCollator::Icu {
    std::unique_ptr<icu::Collator> collator;
};

NameCollator::NameCollator() : icu_(std::make_unique<Icu>())
{
    icu_->collator = makeCollator(listingLocale());
    if (!icu_->collator) {
        icu_->collator = makeCollator(icu::Locale::getRoot());
    }
}

NameCollator::~NameCollator() = default;

bool NameCollator::less(std::string_view a, std::string_view b) const
{
    int order = compare(a, b);
    return order != 0 ? order < 0 : a < b;
}

int NameCollator::compare(std::string_view a, std::string_view b) const
{
    if (!icu_->collator) {
        return 0;
    }
    UErrorCode status = U_ZERO_ERROR;
    UCollationResult order = icu_->collator->compareUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())),
        icu::StringPiece(b.data(), static_cast<int32_t>(b.size())), status);
    return U_FAILURE(status) ? 0 : static_cast<int>(order);
}

} // namespace tavoro::files
