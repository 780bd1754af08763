cmake_minimum_required(VERSION 3.16)
# Fails when a source file includes a header of a layer it must not reach.
# The headers share include/, so include paths alone cannot keep a file from
# naming the wrong one; this check does. Run with -DROOT=<source dir>.
#
# Layers, from the bottom: the portable runtime (platform/qzpr), the core
# library (lib/libqzcore), the administration library (platform/qzhttpd,
# which stands beside the core: it is the server's, not ours), the form
# framework (lib/libvyxadmin), the pages and plug-in registration
# (newadmin/src). Tests may include anything.
set(runtime qzpr.h pr_file.h)
set(core qzbase.h qzcfgn.h qzfname.h qzlockf.h qzstr.h)
set(adminlib adminlib.h)
set(adminlib_inside adm_changelog.h adm_diff.h adm_directive.h adm_form.h adm_history.h adm_messages.h
    adm_origin.h adm_page.h adm_status.h adm_util.h srvcfg.h)
set(framework vyxaui.h vyxbase.h vyxform.h)

set(allowed_platform/qzpr ${runtime})
set(allowed_include ${core} qzpr.h ${framework})
set(allowed_lib/libqzcore ${core} qzpr.h)
set(allowed_platform/qzhttpd ${adminlib} ${adminlib_inside} qzpr.h)
set(allowed_lib/libvyxadmin ${core} qzpr.h ${adminlib} ${framework})
file(GLOB newadmin_headers RELATIVE ${ROOT}/newadmin/src ${ROOT}/newadmin/src/*.h)
set(allowed_newadmin/src ${core} qzpr.h ${adminlib} ${framework} ${newadmin_headers})

set(failures "")
foreach(layer platform/qzpr include lib/libqzcore platform/qzhttpd lib/libvyxadmin newadmin/src)
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
