#pragma once

#define IDS_NEED_NT 100
#define IDS_TITLE_FORMAT 101
#define IDS_PIPE_ERROR 102
#define IDS_DEBUG_CAPTION 103

#define IDM_ABOUT 0x6000
