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
#define IDC_TEXT_LANGUAGE_LABEL 325
#define IDC_TEXT_LANGUAGE 326

// The about box's item of the system menu (a multiple of 16 below 0xF000).
#define IDM_ABOUT 0x0010

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
#define IDS_ABOUT 510
#define IDS_ABOUT_COMMAND 511

// The sentences that say a failure: SentenceOf (main_dialog.cpp) picks one for each
// FailureText (driver/driver.h).
#define IDS_NO_SUCH_FILE 512
#define IDS_NO_SUCH_FOLDER 513
#define IDS_ACCESS_DENIED 514
#define IDS_EMPTY 515
#define IDS_READ_ONLY 516
#define IDS_OVERWRITES_IMAGE 517
#define IDS_OVERWRITES_LANGUAGE_FILE 518
#define IDS_UTF8 519
#define IDS_UTF8_WITH_MARK 520
#define IDS_UTF16_BIG_ENDIAN 521
#define IDS_NOT_UTF16 522
#define IDS_NAME_TAKEN 523
#define IDS_FOLDER 524
#define IDS_NOT_AN_IMAGE 525
#define IDS_UNUSABLE_LANGUAGE 526
#define IDS_OUT_OF_MEMORY 527
#define IDS_CANNOT_WRITE 528
#define IDS_OVERWRITES_INPUT 529
#define IDS_LANGUAGE_FILE_UNUSABLE 530
#define IDS_DISK_FULL 531
#define IDS_NAME_TOO_LONG 532
#define IDS_NO_RESOURCES 533
// Causes the driver does not word: a file another program holds, and any other system error.
#define IDS_IN_USE 534
#define IDS_OTHER_ERROR 535
// Causes the driver words beside its sentences of codes.
#define IDS_NOT_A_FILE 536
#define IDS_CR_LINE_ENDS 537
#define IDS_PO_FILE 538
#define IDS_NO_TEXT_APPLIES 539
#define IDS_CHANGED 540
