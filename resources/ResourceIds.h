// Resource numbers of the images embedded in every executable that links
// qz_resources. Plain #defines and an include guard: windres reads this too.
#ifndef QZ_RESOURCE_IDS_H
#define QZ_RESOURCE_IDS_H

#define QZ_IDI_PROGRAM 1          /* the program icon as an icon resource (Explorer shows it) */
#define QZ_IDR_PROGRAM_ICO 101    /* the same icon file as raw bytes, for our own decoding */
#define QZ_IDR_FOLDER_PNG 102     /* 16 x 16 "当前文件夹" */
#define QZ_IDR_SCREEN_PNG 103     /* 16 x 16 "桌面" */
#define QZ_IDR_FOLDER_OPEN_PNG 104 /* 16 x 16 "自定义" */
#define QZ_IDR_ARCHIVE_PNG 105    /* 24 x 24 archive symbol of the reminder */

/* The same images drawn at 1.5x and 2x, for screens of higher DPI: the 1x
   number plus one of these steps. */
#define QZ_IDR_STEP_150 100
#define QZ_IDR_STEP_200 200
#define QZ_IDR_FOLDER_PNG_150 202
#define QZ_IDR_SCREEN_PNG_150 203
#define QZ_IDR_FOLDER_OPEN_PNG_150 204
#define QZ_IDR_ARCHIVE_PNG_150 205
#define QZ_IDR_FOLDER_PNG_200 302
#define QZ_IDR_SCREEN_PNG_200 303
#define QZ_IDR_FOLDER_OPEN_PNG_200 304
#define QZ_IDR_ARCHIVE_PNG_200 305

#endif
