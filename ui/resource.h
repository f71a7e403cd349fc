// Resource ids of the dialog program, shared by its resource script and its code.
#pragma once

#define IDI_APP 100

#define IDD_MAIN 200

#define IDC_IMAGE_PATH 300
#define IDC_LANGUAGE_PATH 301
#define IDC_IMAGE_BROWSE 303
#define IDC_LOGO 304
#define IDC_LANGUAGE_BROWSE 305
#define IDC_IMPORT 310
#define IDC_EXPORT 312
#define IDC_APP_ICON 321
#define IDC_DESCRIPTION 322
#define IDC_IMAGE_LABEL 323
#define IDC_LANGUAGE_LABEL 324

#define IDS_APP_NAME 500
#define IDS_SUCCESS 501
#define IDS_FAILURE 502
#define IDS_IMAGE_FILTER 503
#define IDS_SELF_TARGET 504
#define IDS_LANGUAGE_FILTER 505
#define IDS_CONFIRM_REPLACE 506
#define IDS_COPY_KEPT 507
#define IDS_UPDATE_NOT_FINISHED 508
#define IDS_FINISH_UPDATE 509
