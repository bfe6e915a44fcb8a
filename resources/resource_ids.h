// Resource and control ids, shared by update.rc and the code.
#pragma once

#define IDD_PROGRESS 9
#define IDC_TICK_BAR 1001
#define IDC_OVERALL_BAR 1002
#define IDC_STATUS_LABEL 1003
