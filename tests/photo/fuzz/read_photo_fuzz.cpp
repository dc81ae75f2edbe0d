// Fuzzes the reading of a photograph: the input is an image file's bytes, decoded and
// read as `velmaro-photo read` does with its default options. Refusing the file is
// fine; crashing, leaking, hanging or undefined behaviour is not, and neither is any
// other exception (the command would turn it into a refusal that hides the fault).
// Seeds: seeds/ holds small photographs, their pattern too small to read; the one in
// seeds-readable/ is read, but each run of it takes a third of a second.
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "photo/read/image.h"
#include "photo/read/reading.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmaro::photo;
    const std::vector<std::uint8_t> bytes(data, data + size);
    try {
        const Photo photo = DecodePhoto(bytes);
        ReadPhoto(photo, ReadOptions{});
    } catch (const ReadError&) {
    } catch (const std::invalid_argument&) {
    }
    return 0;
}
