// Resource ids shared by the program, tarnres.rc (English) and tarnresd.rc
// (German).
//
// These numbers never change: both language libraries and the program are
// built against them, and a library built from an older resource.h must keep
// working with a newer program. Add new ids; never renumber or reuse one.
// Control ids are unique within their dialog only; several dialogs reuse a
// number for different controls, so each has its own name here.
//
// Plain #defines so that the resource compiler can read this file too.
#pragma once

// Window class of the main dialog (CLASS of dialog 101). A second start finds
// the running program by it, so the program must register it before it
// creates the dialog.
#define MAIN_WINDOW_CLASS "Tarnix"

// Unnamed controls (labels, frames).
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Dialog templates.
#define IDD_MAIN 101         // main window, modeless, class MAIN_WINDOW_CLASS, menu 104
#define IDD_ABOUT 108        // About, modal
#define IDD_SEARCH 109       // Search Slaves, modal
#define IDD_CHANGE 112       // Change Address and Baud Rate of Slave, modal
#define IDD_READ_ATTR 1049   // Read Attribute, modeless
#define IDD_WRITE_ATTR 1050  // Write Attribute, modeless
#define IDD_MONITOR 114      // Bus Monitor, modeless
#define IDD_OWN_MAC 115      // Own MAC ID, modal

// Menu, accelerators, icon.
#define IDI_APP 103         // program icon (16x16 and 32x32)
#define IDR_MAIN_MENU 104   // menu bar of the main window
#define IDR_ACCEL_EDIT 105  // Enter, only while the hex field 1004 has the focus
#define IDR_ACCEL_MAIN 106  // F1, always

// Menu commands of menu 104. Three of them share the number of the dialog
// they open.
#define IDM_SEARCH_SLAVES 40001
#define IDM_CHANGE_ADDRESS 112
#define IDM_EXIT 40003
#define IDM_START 40004
#define IDM_STOP 40005
#define IDM_READ_ATTR 1049
#define IDM_WRITE_ATTR 1050
#define IDM_HELP_CONTENTS 40008
#define IDM_ABOUT 40014
#define IDM_SLAVE_WATCHDOG 40020  // check item: the slave's poll connection watchdog on
#define IDM_SEARCH_ALL_RATES 40021  // the search at 125, 250 and 500 kBaud
#define IDM_BUS_MONITOR 40022       // opens the Bus Monitor window
#define IDM_CAPTURE 40023           // check item: every frame written to a capture file
#define IDM_OWN_MAC 40030           // opens the Own MAC ID dialog

// Accelerator commands.
#define IDM_ACCEL_ENTER 40006  // table 105: Enter in the hex field
#define IDM_ACCEL_HELP 40007   // table 106: F1

// Main window (dialog 101).
#define IDC_MAIN_ADDRESS 1000      // edit: current slave address 0..63
#define IDC_MAIN_PORT 1002         // drop-down list: adapter port
#define IDC_MAIN_MAKER 1003        // static: maker line
#define IDC_MAIN_HEX 1004          // edit: selected output byte in hex
#define IDC_MAIN_INPUT_LIST 1005   // list box: input bytes
#define IDC_MAIN_OUTPUT_LIST 1006  // list box: output bytes
#define IDC_MAIN_BIT0_CHECK 1007   // check boxes of bits 0..7: 1007..1014
#define IDC_MAIN_BIT1_CHECK 1008
#define IDC_MAIN_BIT2_CHECK 1009
#define IDC_MAIN_BIT3_CHECK 1010
#define IDC_MAIN_BIT4_CHECK 1011
#define IDC_MAIN_BIT5_CHECK 1012
#define IDC_MAIN_BIT6_CHECK 1013
#define IDC_MAIN_BIT7_CHECK 1014
#define IDC_MAIN_ADDRESS_LABEL 1019  // "Curren&t Slave Address"
#define IDC_MAIN_HEX_LABEL 1021      // "&Edit"
#define IDC_MAIN_PORT_LABEL 1022     // "DeviceNet Dongle &Port"
#define IDC_MAIN_COMM_ACTIVE 1023    // check box: shows CommActive
#define IDC_MAIN_BAUD_LABEL 1024     // "&Baud Rate of DeviceNet Dongle"
#define IDC_MAIN_BAUD 1025           // drop-down list: baud rate
#define IDC_MAIN_LOG 1026            // check box: input log on/off
#define IDC_MAIN_FREEZE 1029         // check box: freeze outputs
#define IDC_MAIN_SINGLE_BIT 1030     // check box: single bit mode
#define IDC_MAIN_BIT0_BUTTON 1033    // push buttons of bits 0..7: 1033..1040
#define IDC_MAIN_BIT1_BUTTON 1034
#define IDC_MAIN_BIT2_BUTTON 1035
#define IDC_MAIN_BIT3_BUTTON 1036
#define IDC_MAIN_BIT4_BUTTON 1037
#define IDC_MAIN_BIT5_BUTTON 1038
#define IDC_MAIN_BIT6_BUTTON 1039
#define IDC_MAIN_BIT7_BUTTON 1040
#define IDC_MAIN_VENDOR_ID 1042  // identity fields, read-only edits
#define IDC_MAIN_PRODUCT_CODE 1043
#define IDC_MAIN_REVISION 1044
#define IDC_MAIN_PRODUCT_NAME 1045
#define IDC_MAIN_DEVICE_TYPE 1046
#define IDC_MAIN_BUS_STATUS 1047  // read-only edit: bus status text
#define IDC_MAIN_SERIAL_NUMBER 1048
#define IDC_MAIN_PROGRESS 1051  // static: what a long operation is doing

// About (dialog 108).
#define IDC_ABOUT_NOTICE 1003   // notice line
#define IDC_ABOUT_MAKER 1004    // maker line
#define IDC_ABOUT_PRODUCT 1028  // product name, fixed in the template
#define IDC_ABOUT_ICON 1029     // invisible placeholder: the icon is drawn at its corner
#define IDC_ABOUT_VERSION 1030  // version line

// Search Slaves (dialog 109). Button 1 (IDOK) reads "Abort" or "&OK".
#define IDC_SEARCH_LIST 1032  // owner-drawn list: one line per node found and rate, per silent address
#define IDC_SEARCH_PROGRESS 1033  // static: what the scan is doing
// Column headings above the list; each one's left edge is its column's.
#define IDC_SEARCH_HEAD_MAC 1034
#define IDC_SEARCH_HEAD_RATE 1035
#define IDC_SEARCH_HEAD_VENDOR 1036
#define IDC_SEARCH_HEAD_DEVICE_TYPE 1037
#define IDC_SEARCH_HEAD_PRODUCT_CODE 1038
#define IDC_SEARCH_HEAD_REVISION 1039
#define IDC_SEARCH_HEAD_SERIAL 1040
#define IDC_SEARCH_HEAD_PRODUCT_NAME 1041

// Bus Monitor (dialog 114). The headings' left edges are the list's columns.
#define IDC_MON_HEAD_TIME 2001
#define IDC_MON_HEAD_DIRECTION 2002
#define IDC_MON_HEAD_ID 2003
#define IDC_MON_HEAD_GROUP 2004
#define IDC_MON_HEAD_MESSAGE 2005
#define IDC_MON_HEAD_MAC 2006
#define IDC_MON_HEAD_MEANING 2007
#define IDC_MON_LIST 2010    // owner-drawn list without data: the frames, drawn from the ring
#define IDC_MON_PAUSE 2011   // check box: the list stops taking frames
#define IDC_MON_CLEAR 2012   // push button: empties the list and the counters
#define IDC_MON_FILTER 2013  // edit: only frames of this MAC ID; empty for all
#define IDC_MON_STATUS 2014  // static: frames/s, bus load, adapter status, counts
#define IDC_MON_HEAD_LENGTH 2020
#define IDC_MON_HEAD_DATA 2021

// Own MAC ID (dialog 115).
#define IDC_OWN_MAC_AUTO 2100   // radio: chosen for each operation
#define IDC_OWN_MAC_FIXED 2101  // radio: the MAC ID in IDC_OWN_MAC_VALUE
#define IDC_OWN_MAC_VALUE 2102  // edit: the fixed MAC ID, 0..63

// Change Address and Baud Rate of Slave (dialog 112).
#define IDC_CHANGE_NEW_ADDRESS 1001
#define IDC_CHANGE_OLD_ADDRESS 1002
#define IDC_CHANGE_NEW_BAUD 1026
#define IDC_CHANGE_OLD_BAUD 1027
#define IDC_CHANGE_PROGRESS 1003  // static: what the change is doing

// Read Attribute and Write Attribute (dialogs 1049, 1050). Button 1 is Read or
// Write, button 2 is Close.
#define IDC_ATTR_SEND_VALUE 1033  // Write only: value to send
#define IDC_ATTR_CLASS 1036
#define IDC_ATTR_RESULT 1037     // Read only: read-only edit with the value read
#define IDC_ATTR_ATTRIBUTE 1043  // also the service code in service mode
#define IDC_ATTR_INSTANCE 1044
#define IDC_ATTR_VALUE_HEX 1057  // value radix
#define IDC_ATTR_IDS_HEX 1059    // radix of the three ids
#define IDC_ATTR_SERVICE 1061    // Write only: service mode
// Data type radio buttons; the numbers do not follow the type codes.
#define IDC_ATTR_TYPE_RAW 1045           // code 0
#define IDC_ATTR_TYPE_BOOL 1046          // code 1
#define IDC_ATTR_TYPE_SINT 1047          // code 2
#define IDC_ATTR_TYPE_INT 1048           // code 3
#define IDC_ATTR_TYPE_LINT 1049          // code 5
#define IDC_ATTR_TYPE_DINT 1050          // code 4
#define IDC_ATTR_TYPE_USINT 1051         // code 6
#define IDC_ATTR_TYPE_UINT 1052          // code 7
#define IDC_ATTR_TYPE_ULINT 1053         // code 9
#define IDC_ATTR_TYPE_UDINT 1054         // code 8
#define IDC_ATTR_TYPE_REAL 1055          // code 10
#define IDC_ATTR_TYPE_LREAL 1056         // code 11
#define IDC_ATTR_TYPE_STRING 1058        // code 12
#define IDC_ATTR_TYPE_SHORT_STRING 1060  // code 13

// String table of the language libraries: IDS_FIRST..IDS_LAST. Ids without
// a text here are reserved.
#define IDS_FIRST 1000
#define IDS_LAST 1099
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
#define IDS_ADDRESS_IN_USE 1039       // new address answered a probe; %s new, %s old address

// Bus status and adapter (1040..1049).
#define IDS_BUS_WARNING 1040  // status bit 0x04: error counters at the warning level
// -- more bus status and adapter strings here

// Master services (1050..1079).
#define IDS_OWNED_BY_OTHER_MASTER 1050  // Allocate answered 0x0C; %s is the slave address
#define IDS_NO_FREE_OWN_MAC 1051        // every own MAC ID candidate answered; %s lists them
#define IDS_IDENTITY_MISMATCH 1052      // another device where the slave was sent; %s place, %s kept
#define IDS_DETAIL_SLAVE_ADDRESS 1053   // appended to a failure; %s is the slave address
#define IDS_DETAIL_BUS_STATUS 1054      // appended to a failure; %s is the bus status text
#define IDS_ERROR_CODE_DETAIL 1055      // %s code, %s name, %s additional code (fills 1016's %s)
#define IDS_PROGRESS_SETTLE 1060        // %s seconds left
#define IDS_PROGRESS_PROBING 1061       // %s is the number of the address probed
#define IDS_PROGRESS_OWN_MAC 1062       // %s is the own MAC ID checked
#define IDS_PROGRESS_CONNECTING 1063    // %s is the slave address
#define IDS_PROGRESS_IDENTITY 1064
#define IDS_PROGRESS_WRITING_ADDRESS 1065
#define IDS_PROGRESS_WRITING_BAUD 1066
#define IDS_PROGRESS_RESTART_WAIT 1067  // %s seconds waited
#define IDS_PROGRESS_RELEASING 1068
#define IDS_PROGRESS_CHECK_ADDRESS 1069  // %s is the address that must be free
#define IDS_NO_SLAVE_AT_ANY_RATE 1070   // a search at every baud rate found nothing
#define IDS_PROGRESS_AT_RATE 1071       // %s kBaud, %s what the search does at that rate
#define IDS_PROGRESS_READING_NODE 1072  // %s is the MAC ID whose identity is read
#define IDS_NODE_READING 1073           // search list: identity still to be read
#define IDS_NODE_NOT_READ 1074          // search list: identity not read, the search was aborted
#define IDS_NODE_OWNED 1075             // search list: Allocate answered 0x0C
#define IDS_NODE_REFUSED 1076           // search list: %s is the error code text (1055)
#define IDS_NODE_NO_ANSWER 1077         // search list: answered the probe, not explicit requests
// -- more master strings here

// Windows (1080..1089).
#define IDS_CAPTION_OWN_MAC 1080  // caption while communication runs: %s caption, %s own MAC ID
#define IDS_MON_STATUS_TRAFFIC 1081  // %s frames per second, %s bus load in percent
#define IDS_MON_STATUS_COUNTS 1082   // %s error responses, %s time-outs
#define IDS_MON_ADAPTER_CLOSED 1083  // status line: no adapter open
#define IDS_MON_PAUSED 1084          // status line: the list is paused
#define IDS_CAPTURE_FILTER 1085      // save dialog file types, "|" between the parts
#define IDS_CAPTURE_TITLE 1086       // save dialog caption
#define IDS_CAPTURE_FAILED 1087      // %s is the file that could not be written
#define IDS_PORT_SERIAL 1088         // port list: serial-line CAN adapter; %s is the COM number
// -- more window strings here

// Values and settings (1090..1099).
#define IDS_VALUE_REFUSED 1090     // %s value text, %s data type, %s what the type allows
#define IDS_NO_PORT_SELECTED 1091  // Start or search with no known adapter port
// -- more value and settings strings here
#define IDS_VALUE_ALLOWED_BYTES 1092  // fills 1090's allowed part for raw bytes; %s most bytes
#define IDS_VALUE_ALLOWED_CHARS 1093  // fills 1090's allowed part for strings; %s most characters

// Names of the DeviceNet general error codes: IDS_GEC_NAME_BASE + code.
#define IDS_GEC_NAME_BASE 1100

// Bus monitor frame texts (1400..1479): the meaning of each frame in the
// Bus Monitor's last column. IDS_MON_FIRST..IDS_MON_LAST is their range.
#define IDS_MON_FIRST 1400
#define IDS_MON_LAST 1479
#define IDS_MON_STATUS 1400              // %s bus status text, %s status word
#define IDS_MON_INVALID_ID 1401          // identifiers 0x7F0..0x7FF
#define IDS_MON_GROUP4 1402              // %s message ID
#define IDS_MON_TOO_SHORT 1403           // data too short for what the header announces
#define IDS_MON_DUP_MAC_REQUEST 1404     // %s port, %s vendor ID, %s serial number
#define IDS_MON_DUP_MAC_RESPONSE 1405    // %s port, %s vendor ID, %s serial number
#define IDS_MON_EXPLICIT_REQUEST 1406    // %s service, %s class, %s instance
#define IDS_MON_REQUEST_ATTRIBUTE 1407   // %s service, %s class, %s instance, %s attribute
#define IDS_MON_REQUEST_NO_PATH 1408     // %s service
#define IDS_MON_EXPLICIT_RESPONSE 1409   // %s service
#define IDS_MON_ERROR_RESPONSE 1410      // %s error code text (IDS_ERROR_CODE_DETAIL)
#define IDS_MON_SERVICE_CODE 1411        // stands for the name of an unknown service; %s code
#define IDS_MON_REQUEST 1412             // a later request fragment
#define IDS_MON_RESPONSE 1413            // a later response fragment
#define IDS_MON_FIRST_FRAGMENT 1414      // appended; %s fragment count
#define IDS_MON_MIDDLE_FRAGMENT 1415     // appended; %s fragment count
#define IDS_MON_LAST_FRAGMENT 1416       // appended; %s fragment count
#define IDS_MON_WHOLE_FRAGMENT 1417      // appended: I/O first fragment with count 3F hex
#define IDS_MON_ACK_REQUEST 1418         // %s fragment count
#define IDS_MON_ACK_RESPONSE 1419        // %s fragment count
#define IDS_MON_ACK_TOO_MUCH_DATA 1420   // appended: acknowledge status 1
#define IDS_MON_ACK_STATUS 1421          // appended: any other status; %s status
#define IDS_MON_UCMM_OPEN 1422           // %s body format, %s group select
#define IDS_MON_UCMM_OPEN_RESPONSE 1423  // %s connection instance, %s body format
#define IDS_MON_UCMM_CLOSE 1424          // %s connection instance
#define IDS_MON_UCMM_CLOSE_RESPONSE 1425
#define IDS_MON_POLL_COMMAND 1426
#define IDS_MON_POLL_RESPONSE 1427
#define IDS_MON_BIT_STROBE_COMMAND 1428      // group 2 message 0
#define IDS_MON_MULTICAST_POLL_COMMAND 1429  // group 2 message 1
#define IDS_MON_COS_CYCLIC_ACK 1430          // group 2 message 2
#define IDS_MON_MULTICAST_POLL_RESPONSE 1431  // group 1 message 12
#define IDS_MON_COS_CYCLIC 1432               // group 1 message 13
#define IDS_MON_BIT_STROBE_RESPONSE 1433      // group 1 message 14
#define IDS_MON_FORMAT_ASSUMED 1434  // appended: the path read as 8/8, the set-up not seen
// -- more bus monitor frame texts here

// More window and message texts (1500..1599), one block of twenty per area.
// IDS_MORE_FIRST..IDS_MORE_LAST is their range.
#define IDS_MORE_FIRST 1500
#define IDS_MORE_LAST 1599
// Own MAC ID and connection set-up (1500..1519).
#define IDS_OWN_MAC_LOST 1500           // another node claimed the own MAC ID: %s MAC ID, %s the node
#define IDS_OWN_MAC_RIVAL_REQUEST 1501  // the node checks it: %s vendor ID, %s serial number
#define IDS_OWN_MAC_RIVAL_RESPONSE 1502  // the node is online with it: %s vendor ID, %s serial
#define IDS_FIXED_OWN_MAC_TAKEN 1503     // %s the fixed own MAC ID, %s what holds it
#define IDS_OWN_MAC_CHECK_REFUSED 1504   // %s the MAC ID, %s the adapter's status
#define IDS_PROGRESS_LISTENING 1505      // before the own MAC ID check
#define IDS_OWN_MAC_RANGE 1506           // Own MAC ID dialog: the number is no MAC ID
#define IDS_FIXED_OWN_MAC_IS_SLAVE 1507  // %s the fixed own MAC ID, the address of the slave
#define IDS_OWN_MAC_TAKEN_BY_NODE 1508   // fixed MAC ID answered by a node online with it
#define IDS_OWN_MAC_TAKEN_CHECKING 1509  // fixed MAC ID checked by another node right now
// -- own MAC ID strings here
#define IDS_CONNECT_LAST_CODE 1510  // appended to 1015; %s is the error code in words
#define IDS_CONNECT_NO_ANSWER 1511  // appended to 1015: the connect requests went unanswered
#define IDS_TAKE_OVER_SET 1512      // Allocate answered 0x0B; %s slave address, %s own MAC ID
// Link errors, search and address change (1520..1539).
#define IDS_ADAPTER_QUEUE_STUCK 1520     // the adapter's transmit queue never drained
#define IDS_DETAIL_ADAPTER_REFUSED 1521  // %s the adapter's error in words, %s its code in hex
#define IDS_SEARCH_ADAPTER_ERROR 1522    // %s the adapter's error in words, %s its code in hex
#define IDS_SEARCH_ALL_RATES_ASK 1523    // asked before a search at every baud rate
#define IDS_NODE_ADAPTER_ERROR 1524      // a node's identity read stopped by the adapter
// -- link and search strings here
#define IDS_CHANGE_PLACE 1525               // "address %s at %s": address, baud rate
#define IDS_ADDRESS_IN_USE_AT_RATE 1526     // %s address, %s new rate, %s place the slave stays
#define IDS_PROGRESS_CHECK_ADDRESS_AT 1527  // %s address that must be free, %s at this rate
#define IDS_CHANGE_NOT_BACK 1528            // %s place the slave was sent to
#define IDS_CHANGE_BAD_OLD_ADDRESS 1529     // %s the text typed
#define IDS_CHANGE_BAD_NEW_ADDRESS 1530     // %s the text typed
// Capture and bus monitor windows (1540..1559).
#define IDS_CAPTURE_WRITE_FAILED 1540  // %s file, %s frames it holds
#define IDS_CAPTURE_FRAMES_LOST 1541   // %s file, %s frames left out
#define IDS_CAPTURE_CLOSE_FAILED 1542  // %s file
#define IDS_MON_STATUS_FILTER 1543     // status line; %s MAC ID
// -- capture strings here
// Dialog input checks and ports (1560..1579).
#define IDS_ATTR_FIELD_CLASS 1560      // the Class ID field, as a refusal names it
#define IDS_ATTR_FIELD_INSTANCE 1561   // the Instance ID field
#define IDS_ATTR_FIELD_ATTRIBUTE 1562  // the Attribute ID field
#define IDS_ATTR_FIELD_SERVICE 1563    // the Attribute ID field holding a service code
#define IDS_ATTR_ID_REFUSED 1564       // %s field, %s its text, %s what it takes
#define IDS_ATTR_ID_ALLOWED_WIDE 1565  // 1564's allowed part for class, instance; %s range, %s FF
#define IDS_ATTR_ID_TOO_WIDE 1566      // %s field, %s its text, %s the 8-bit range granted
#define IDS_SERIAL_OPEN_FAILED 1567    // the adapter will not open on serial port COM%s
#define IDS_HEX_REFUSED 1568           // %s text of the hex field, %s the byte's value kept
// -- dialog strings here
// Serial-line adapters (1580..1599).
// -- serial strings here
