#include "base/gcobject.h"

#include "base/fixedpositions.h"

namespace tessel {
namespace gc {

void throwNullPointer() {
    TESSEL_THROW_AT(tessel::NullException, fixed::kNullPointer);
}

}  // namespace gc
}  // namespace tessel
