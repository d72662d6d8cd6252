// The DeviceNet link layer as other folders use it: frames and decoded
// messages, the node table, explicit messaging and connection tracking.
#pragma once

#include "devicenet/codec.h"
#include "devicenet/own_mac_watch.h"
#include "devicenet/dispatch.h"
#include "devicenet/explicit.h"
#include "devicenet/io.h"
#include "devicenet/node_table.h"
#include "devicenet/protocol.h"
#include "devicenet/tracking.h"
