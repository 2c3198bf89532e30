#pragma once

// Resource and command numbers of the window (skav.rc). The command numbers are the ones the
// Windows application framework gives these commands, so menus, accelerators and prompts
// line up with what operators know.

#define IDR_MAINFRAME 128  // menu, accelerators, icon
#define IDD_ABOUTBOX 100
#define IDD_DIAGIF 133

#define IDC_ABOUT_ICON 1001
#define IDC_ABOUT_LINE2 1002
#define IDC_ADAPTERS 1003
#define IDC_PAIR0 1008  // 1008 to 1013: the six pairs of MAC Digits
// The Network Interface dialog's Several Ports section, made when it is offered.
#define IDC_SEVERAL_PORTS 1020
#define IDC_PORT_LIST 1021
#define IDC_PORTS_NOTE 1022

#define ID_VIEW_INTERFACE 32771
#define ID_VIEW_BARCODE 32772
#define ID_VIEW_PANEL 32773
#define ID_VIEW_ZOOM_IN 32774
#define ID_VIEW_ZOOM_OUT 32775
#define ID_VIEW_SOUND 32776
#define ID_VIEW_RESET_TOTALS 32777
// Ctrl+1 to Ctrl+9: 32781 selects the first port, up to 32789 the ninth.
#define ID_SELECT_PORT1 32781
#define ID_SELECT_PORT9 32789

#define ID_FILE_NEW 57600
#define ID_FILE_OPEN 57601
#define ID_FILE_SAVE 57603
#define ID_EDIT_COPY 57634
#define ID_EDIT_CUT 57635
#define ID_EDIT_PASTE 57637
#define ID_EDIT_UNDO 57643
#define ID_APP_ABOUT 57664
#define ID_APP_EXIT 57665
#define ID_NEXT_PANE 57680
#define ID_PREV_PANE 57681
#define ID_VIEW_STATUS_BAR 59393
#define ID_STATUS_BAR 59393  // the status bar window's own identifier

#define IDS_APP_TITLE 57344
#define IDS_IDLE_MESSAGE 57345
#define IDS_INDICATOR_CAPS 59137
#define IDS_INDICATOR_NUM 59138
#define IDS_INDICATOR_SCRL 59139
