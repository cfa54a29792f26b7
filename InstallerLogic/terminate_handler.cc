// The stub's handler for an exception that nothing catches. The runtime's
// default one writes the exception's type, demangled, to the standard error
// stream, which a GUI program does not have; its demangler alone is about
// 46 KB of the stub. This one ends the process the same way, without the text.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
