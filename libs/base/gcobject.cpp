#include "base/gcobject.h"

#include "base/exception.h"

namespace tessel {
namespace gc {

void throwNullPointer() { throw NullException("tessel::NullException", "gcobject", 12); }

}  // namespace gc
}  // namespace tessel
