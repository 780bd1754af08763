cmake_minimum_required(VERSION 3.16)
# Fails when a source file includes a header of a layer it must not reach.
# The headers share include/, so include paths alone cannot keep a file from
# naming the wrong one; this check does. Run with -DROOT=<source dir>.
#
# Layers, from the bottom: the portable runtime (platform/qzpr), the core
# library (lib/libqzcore), the save library (lib/libvyxsave: transactions,
# history, recovery, the status model), the administration library
# (platform/qzhttpd, the server's, which hands saves to the save library),
# the form framework (lib/libvyxadmin), the pages and plug-in registration
# (newadmin/src). Tests may include anything.
set(runtime qzpr.h pr_file.h)
set(core qzbase.h qzcfgn.h qzfname.h qzlockf.h qzstr.h)
set(adminlib adminlib.h)
file(GLOB save RELATIVE ${ROOT}/include/libvyxsave ${ROOT}/include/libvyxsave/*.h)
file(GLOB save_inside RELATIVE ${ROOT}/lib/libvyxsave ${ROOT}/lib/libvyxsave/*.h)
set(adminlib_inside adm_changelog.h adm_directive.h adm_form.h adm_messages.h adm_origin.h adm_page.h
    adm_notice.h adm_outcome.h adm_settings.h adm_util.h srvcfg.h)
set(framework vyxaui.h vyxbase.h vyxform.h)

set(allowed_platform/qzpr ${runtime})
set(allowed_include ${core} qzpr.h ${save} ${framework})
set(allowed_lib/libqzcore ${core} qzpr.h)
set(allowed_include/libvyxsave ${save})
set(allowed_lib/libvyxsave ${core} qzpr.h ${save} ${save_inside})
set(allowed_platform/qzhttpd ${adminlib} ${adminlib_inside} qzpr.h ${save})
set(allowed_lib/libvyxadmin ${core} qzpr.h ${adminlib} ${framework})
file(GLOB newadmin_headers RELATIVE ${ROOT}/newadmin/src ${ROOT}/newadmin/src/*.h)
set(allowed_newadmin/src ${core} qzpr.h ${save} ${adminlib} ${framework} ${newadmin_headers})

set(failures "")
foreach(layer platform/qzpr include/libvyxsave lib/libqzcore lib/libvyxsave platform/qzhttpd lib/libvyxadmin
              newadmin/src)
  file(GLOB_RECURSE sources ${ROOT}/${layer}/*.cpp ${ROOT}/${layer}/*.h)
  foreach(source IN LISTS sources)
    file(STRINGS ${source} includes REGEX "^#include \"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include \"([^\"]*)\".*" "\\1" header "${line}")
      get_filename_component(header ${header} NAME)
      if(NOT header IN_LIST allowed_${layer})
        file(RELATIVE_PATH shown ${ROOT} ${source})
        string(APPEND failures "\n  ${shown} includes ${header}, outside what ${layer} may use")
      endif()
    endforeach()
  endforeach()
endforeach()
if(failures)
  message(FATAL_ERROR "Layers crossed:${failures}")
endif()
