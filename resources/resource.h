// Resource ids shared by the program, tarnres.rc (English) and tarnresd.rc
// (German).
//
// These numbers never change: both language libraries and the program are
// built against them, and a library built from an older resource.h must keep
// working with a newer program. Add new ids; never renumber or reuse one.
//
// Plain #defines so that the resource compiler can read this file too.
#pragma once

// String table of the language libraries: IDS_FIRST..IDS_LAST. Ids without
// a text here are reserved.
#define IDS_FIRST 1000
#define IDS_LAST 1038
#define IDS_CAPTION 1000              // caption of the main window and of every message box
#define IDS_ADAPTER_OPEN_FAILED 1001  // the adapter will not open on the chosen port
#define IDS_NO_SLAVE_FOUND 1004       // a search found nothing
#define IDS_OUT_OF_MEMORY 1005        // start-up failed
#define IDS_COMM_FAILURE 1008         // an exchange with the slave failed
#define IDS_OUTPUTS_WARNING 1010      // confirmation before communication starts
#define IDS_SEARCH_OK 1013            // search dialog button after the scan
#define IDS_SEARCH_ABORT 1014         // search dialog button during the scan
#define IDS_SLAVE_INIT_FAILED 1015    // the slave could not be brought up
#define IDS_ATTR_ACCESS_FAILED 1016   // error response; %s is the general error code
#define IDS_SET_ADDRESS_FAILED 1020   // address change failed
#define IDS_SET_BAUD_FAILED 1021      // baud-rate change failed

// Bit captions "&0".."&7" of the output bit controls. These come from the
// program's own module (quillon_strings.rc), not from a language library.
#define IDS_BIT0 1022
#define IDS_BIT1 1023
#define IDS_BIT2 1024
#define IDS_BIT3 1025
#define IDS_BIT4 1026
#define IDS_BIT5 1027
#define IDS_BIT6 1028
#define IDS_BIT7 1029

#define IDS_BUS_NORMAL 1030           // bus status word 0
#define IDS_BUS_NO_DRIVER 1031        // status bit 0x200
#define IDS_BUS_OFF 1032              // status bit 0x10
#define IDS_BUS_HEAVY 1033            // status bit 0x08
#define IDS_BUS_OVERRUN 1034          // status bit 0x02
#define IDS_BUS_UNKNOWN 1035          // any other status
#define IDS_SLAVE_MISSING 1036        // %s is the slave address
#define IDS_CAN_DLL_LOAD_FAILED 1037  // the adapter driver library will not load
#define IDS_IO_LENGTH_EXCEEDED 1038   // connection size above 1000 bytes
