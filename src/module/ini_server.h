/* Whether an INI file's text names a PostgreSQL server, read as the
   program reads the file (module/ini.cpp): the first ServerName and the
   first ServerAddress of a [DataBase] section both have a value.

   It is plain C that calls nothing, so that the static program can ask it
   before its C library has started (frame/early_start.c). */
#ifndef WO_MODULE_INI_SERVER_H
#define WO_MODULE_INI_SERVER_H

#ifdef __cplusplus
extern "C" {
#endif

int wo_ini_names_server(const char* text, unsigned long size);

#ifdef __cplusplus
}
#endif

#endif
