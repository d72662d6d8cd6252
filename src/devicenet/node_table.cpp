#include "devicenet/node_table.h"

#include <cstring>

namespace devicenet {

namespace {
constexpr uint16_t DUP_MAC_CHECK_SIZE = 7;
}

void InitNodeTable(NodeTable& table) {
  std::memset(&table, 0, sizeof table);
  for (NodeRecord& node : table.Node) node.G2Size[G2_MSG_DUP_MAC_CHECK] = DUP_MAC_CHECK_SIZE;
}

}  // namespace devicenet
