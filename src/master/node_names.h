// Texts for a node's identity in the node list: the device profile behind the
// Identity object's device type (attribute 2) and the company behind its
// vendor ID (attribute 1). Names are plain ASCII, at most 40 characters, so
// that they fit a list column.
#pragma once

#include <cstdint>

namespace master {

// The device profile's name for a standard device type code, for example
// "Communications Adapter" for 0x0C; nullptr for a code the table does not
// know (vendor-specific and unassigned codes).
const char* DeviceTypeName(uint16_t deviceType);

// The company a vendor ID was assigned to, for example
// "Rockwell Automation/Allen-Bradley" for 1; nullptr for an ID the table does
// not know (the table holds the common automation vendors only).
const char* VendorName(uint16_t vendorId);

// The tables' entries by position 0 .. Count() - 1, in ascending code order,
// so that a test can check every entry. Out of range: code 0, name nullptr.
int DeviceTypeNameCount();
uint16_t DeviceTypeCodeAt(int i);
const char* DeviceTypeNameAt(int i);
int VendorNameCount();
uint16_t VendorIdAt(int i);
const char* VendorNameAt(int i);

}  // namespace master
