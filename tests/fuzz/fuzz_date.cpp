// Reading typed dates: whatever is accepted is a real date that is stored
// and shown in forms that read back as the same date.
#include "fuzz.h"

#include "store/datetext.h"

using namespace zumilo::store;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(fuzzBytes(data, size));
    const QDate today(2026, 12, 6);
    if (const auto d = parseDateText(text, today)) {
        FUZZ_CHECK(d->date.isValid() && (!d->time || d->time->isValid()));
        FUZZ_CHECK(fromStorageText(toStorageText(*d)) == d);
        FUZZ_CHECK(parseDateText(toDisplayText(*d), today) == d);
    }
    if (const auto stored = fromStorageText(text))
        FUZZ_CHECK(stored->date.isValid() && fromStorageText(toStorageText(*stored)) == stored);
    return 0;
}
