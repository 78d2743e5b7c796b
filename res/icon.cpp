#include "res/icon.h"

namespace qx::res {
namespace {
#include "res/quendrix.xpm"
}  // namespace

const char* const* MainIconXpm() { return quendrix_xpm; }

}  // namespace qx::res
