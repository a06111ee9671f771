// The settings reader on arbitrary file contents.
#include <cstring>

#include "fuzz_tree.h"
#include "main.h"
#include "module_files.h"
#include "state.h"

namespace {

// A kept word is terminated within its buffer and holds no whitespace.
void check_word(const char *word, size_t size) {
    const size_t length = strnlen(word, size);
    if (length >= size) abort();
    for (size_t i = 0; i < length; ++i) {
        if (strchr(" \t\n\v\f\r", word[i]) != nullptr) abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    enter_temp_tree();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    put_file(kSettingsFile, data, size);
    g_state = ControllerState{};
    if (read_config()) {
        check_word(g_state.PID_version, sizeof g_state.PID_version);
        check_word(g_state.phonemodel, sizeof g_state.phonemodel);
    }
    return 0;
}
