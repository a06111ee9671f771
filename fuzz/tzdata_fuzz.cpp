// The packed tzdata reader on arbitrary files: whatever it finds lies inside
// the file and starts with "TZif".
#include <cstdlib>
#include <string>

#include "zone.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string packed(reinterpret_cast<const char *>(data), size);
    for (const char *zone : {"UTC", "Asia/Kolkata", "ZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZ"}) {
        ZoneBlob blob;
        if (find_zone(packed, zone, &blob) != PackedError::kNone) continue;
        if (blob.offset + blob.length > size || blob.length < 4 ||
            packed.compare(blob.offset, 4, "TZif") != 0)
            abort();
    }
    (void)tzdata_version(packed);
    return 0;
}
