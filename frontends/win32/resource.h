// Resource and control ids of the Windows front end; shared by the templates and the code.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_UPDATER_DIALOG 102
#define IDR_MAINFRAME 128
#define IDD_PORT_SETUP 129

#define IDC_INFO 1000
#define IDC_MAKE_UPDATE 1001
#define IDC_ACTIVITY_LOG 1003
#define IDC_COM_PORT_SETUP 1004
#define IDC_PROGRESS 1005
#define IDC_STATUS_LINE 1006
#define IDC_PORT_COMBO 1005

// The About item's command on the system menu; the system keeps the low four bits for itself.
#define IDM_ABOUTBOX 0x0010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
