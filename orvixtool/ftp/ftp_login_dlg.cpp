#include "orvixtool/ftp/ftp_login_dlg.h"
