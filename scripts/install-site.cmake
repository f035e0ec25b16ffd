# Part of `cmake --install`: the site's own files, installed so that an
# install over an existing site never overwrites what the site changed.
#
# Every file of the site that a centre edits (bin/Velmori.ini, the
# templates under www/WebOrvane/, the static files under www/htdocs/) is
# installed as a default under share/weborvane/defaults/, at the same path
# below it. This script runs twice:
#   WO_SITE_STEP "before": notes the checksums of the defaults installed
#     last time, before the new ones replace them;
#   WO_SITE_STEP "after": brings each file of the site up to the new
#     default where that is safe: a missing file is copied, a file that
#     still equals the old default gets the new one; a file the site has
#     changed is kept, and reported when its default changed meanwhile.
# It also writes the web server configurations with the install prefix.
# The database (data/) and the log (log/) are never touched.
set(wo_root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(wo_defaults "${wo_root}/share/weborvane/defaults")

if(WO_SITE_STEP STREQUAL "before")
  set(WO_OLD_DEFAULTS "")
  if(EXISTS "${wo_defaults}")
    file(GLOB_RECURSE wo_old RELATIVE "${wo_defaults}" "${wo_defaults}/*")
    foreach(f IN LISTS wo_old)
      file(SHA256 "${wo_defaults}/${f}" h)
      list(APPEND WO_OLD_DEFAULTS "${f}|${h}")
    endforeach()
  endif()
  return()
endif()

file(GLOB_RECURSE wo_new RELATIVE "${wo_defaults}" "${wo_defaults}/*")
list(SORT wo_new)
set(wo_installed "")
foreach(f IN LISTS wo_new)
  set(site "${wo_root}/${f}")
  file(SHA256 "${wo_defaults}/${f}" new_hash)
  if(NOT EXISTS "${site}")
    get_filename_component(dir "${site}" DIRECTORY)
    file(MAKE_DIRECTORY "${dir}")
    configure_file("${wo_defaults}/${f}" "${site}" COPYONLY)
    list(APPEND wo_installed "${f}")
    continue()
  endif()
  file(SHA256 "${site}" site_hash)
  if(site_hash STREQUAL new_hash)
    continue()
  endif()
  set(old_hash "")
  foreach(entry IN LISTS WO_OLD_DEFAULTS)
    if(entry MATCHES "^(.*)\\|([0-9a-f]+)$" AND CMAKE_MATCH_1 STREQUAL f)
      set(old_hash "${CMAKE_MATCH_2}")
    endif()
  endforeach()
  if(old_hash STREQUAL site_hash)
    configure_file("${wo_defaults}/${f}" "${site}" COPYONLY)
    message(STATUS "Site: updated ${f} to the new default (the site had not changed it)")
  elseif(NOT old_hash STREQUAL new_hash)
    message(STATUS "Site: kept ${f} as the site has it; its default has changed: "
                   "compare it with share/weborvane/defaults/${f}")
  endif()
endforeach()

list(LENGTH wo_installed n)
if(n GREATER 5)
  message(STATUS "Site: installed ${n} files of the default site (INI file, templates, static files)")
elseif(n GREATER 0)
  string(REPLACE ";" ", " names "${wo_installed}")
  message(STATUS "Site: installed the defaults of ${names}")
endif()

# The web server configurations, for this prefix (without DESTDIR: where
# the site will run).
# The program as CGI, and as FastCGI workers with the systemd units that
# keep them for nginx.
foreach(conf lighttpd.conf apache.conf nginx.conf lighttpd-fastcgi.conf apache-fastcgi.conf nginx-fastcgi.conf
        weborvane-fastcgi.socket weborvane-fastcgi@.service)
  set(PREFIX "${CMAKE_INSTALL_PREFIX}")
  configure_file("${WO_SOURCE_DIR}/site/server/${conf}"
                 "${wo_root}/share/weborvane/server/${conf}" @ONLY)
endforeach()
message(STATUS "Site: web server configurations for ${CMAKE_INSTALL_PREFIX} in share/weborvane/server/")
