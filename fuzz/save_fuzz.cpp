// velmoractl save's decode-and-check on arbitrary input: the input itself as
// base64 text, and the input as a settings file, encoded as the page sends it,
// which must decode byte for byte and be refused exactly when velmora's own
// reader refuses it.
#include <cstdlib>
#include <string>

#include "base64.h"
#include "commands.h"
#include "files.h"
#include "fuzz_tree.h"
#include "main.h"
#include "module_files.h"
#include "state.h"
#include "verdict.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    enter_temp_tree();
    std::filesystem::create_directories(kModuleDir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string input(reinterpret_cast<const char *>(data), size);
    std::string bytes;
    TempFile temp;
    if (stage_settings(input, &bytes, &temp).status == 0) drop_temp(temp);

    const CtlOutput staged = stage_settings(base64_encode(input), &bytes, &temp);
    if (staged.status == 0) drop_temp(temp);
    if (bytes != input) abort();
    put_file(kSettingsFile, data, size);
    g_state = ControllerState{};
    if (read_config() != (staged.status == 0)) abort();
    return 0;
}
