// Resource numbers shared by the program's resource script and its code.
#pragma once

namespace qm {

#define IDD_ABOUT 100
#define IDD_RECORDER 102
#define IDI_APPLICATION_ICON 128
#define IDI_SELECTED_MARK 134

#define IDS_ABOUT_RECORDER 101
#define IDS_PRODUCT_TITLE 104

#define IDC_TITLE_BROWSER 1000
#define IDC_CONTENT_BROWSER 1001
#define IDC_TITLE_PANEL 1002
#define IDC_EFFECT_PANEL_SPACE 1003
#define IDC_CAPTURE_PANEL 1004
#define IDC_SPARE_PANEL 1006

}  // namespace qm
