// brightleaf-render: the sandboxed helper that does all PDFium work for the
// engine. It is started by the engine, never by hand.

#include "render/render_server.h"

#if defined(__SANITIZE_ADDRESS__)
// The leak check at exit needs calls the sandbox refuses; the engine's own tests
// check for leaks in-process instead.
extern "C" int __lsan_is_turned_off() {
    return 1;
}
#endif

int main(int argc, char** argv) {
    return bl::run_render_helper(argc, argv);
}
