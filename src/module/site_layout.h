/* Where a site's files lie, seen from the folder of the program (in
   www/cgi-bin, or lib/dynamic for the dynamically linked one): the site's
   top is two folders up. Plain C, for the static program's entry point
   (frame/early_start.c) as well. */
#ifndef WO_MODULE_SITE_LAYOUT_H
#define WO_MODULE_SITE_LAYOUT_H

#define WO_SITE_TOP_FROM_PROGRAM "../../"
#define WO_SITE_INI_FILE "bin/Velmori.ini"
#define WO_SITE_DYNAMIC_PROGRAM "lib/dynamic/WebOrvane.exe"

#endif
