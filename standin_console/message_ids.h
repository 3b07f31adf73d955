// Numbers of the console messages that the migration tool asks for.
#pragma once

#define IDS_FILE_OPEN_FAILED 18072   /* %1 = full path */
#define IDS_FILE_ERROR 17576         /* %1 = cause code, %2 = -1 */
#define IDS_FILE_ERROR_OS 17577      /* %1 = cause code, %2 = system error number, %3 = its text */
#define IDS_NOT_UNICODE_TEXT 50914   /* no arguments */
