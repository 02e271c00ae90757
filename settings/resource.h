// Resource identifiers of the settings program: dialog templates, strings,
// control IDs and the system-menu command.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_PLUMORA_DIALOG 102
#define IDR_MAINFRAME 128

// Command of the "version information" item added to the system menu. The low
// four bits are left free, as the platform reserves them in system commands.
#define IDM_ABOUTBOX 0x0010

// The framework's standard help command.
#define ID_HELP 57670

#define IDC_STATIC (-1)
#define IDC_RADIO_SOLID 1005
#define IDC_RADIO_WIREFLAME 1006
#define IDC_EDIT_FILE 1007
#define IDC_SLIDER_R 1011
#define IDC_SLIDER_G 1012
#define IDC_SLIDER_B 1013
#define IDC_SLIDER_SPEED 1014
#define IDC_EDIT_COLOR 1015
#define IDC_EDIT_SPEED 1016
#define IDC_OK_BUTTON 1017
#define IDC_SWATCH 1021
#define IDC_XFILE_OPEN 1024
#define IDC_PREVIEW 1025

// System commands the dialog's menu offers besides its own item.
#ifndef SC_MINIMIZE
#define SC_MINIMIZE 0xF020
#endif
#ifndef SC_CLOSE
#define SC_CLOSE 0xF060
#endif

// Control-colour kinds delivered to OnCtlColor.
#define CTLCOLOR_MSGBOX 0
#define CTLCOLOR_EDIT 1
#define CTLCOLOR_LISTBOX 2
#define CTLCOLOR_BTN 3
#define CTLCOLOR_DLG 4
#define CTLCOLOR_SCROLLBAR 5
#define CTLCOLOR_STATIC 6

// Trackbar notification codes handed to OnHScroll.
#define TB_LINEUP 0
#define TB_LINEDOWN 1
#define TB_PAGEUP 2
#define TB_PAGEDOWN 3
#define TB_THUMBPOSITION 4
#define TB_THUMBTRACK 5
#define TB_TOP 6
#define TB_BOTTOM 7
#define TB_ENDTRACK 8
