#include "orvixtool/devicelink/connection_kind.h"

namespace devod {
namespace {
int g_connection_kind = kNoConnection;
}

int GetConnectionKind() { return g_connection_kind; }
void SetConnectionKind(int kind) { g_connection_kind = kind; }

}  // namespace devod
