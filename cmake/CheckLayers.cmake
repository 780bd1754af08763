cmake_minimum_required(VERSION 3.16)
# Fails when a source file includes a header of a layer it must not reach.
# The headers share include/, so include paths alone cannot keep a file from
# naming the wrong one; this check does. Run with -DROOT=<source dir>.
#
# Layers, from the bottom: the two platform libraries (platform/qzpr, the
# portable runtime, and platform/qzhttpd, the administration server's
# library), which include nothing of ours; the core library
# (lib/libqzcore); the save library (lib/libvyxsave: transactions,
# history, recovery, the status model); the form framework
# (lib/libvyxadmin), which drives the save library around its calls of the
# administration library; the pages and plug-in registration
# (newadmin/src). Tests may include anything.
set(runtime qzpr.h pr_file.h)
set(core qzbase.h qzcfgn.h qzdigest.h qzfile.h qzfname.h qzlockf.h qzmem.h qzowner.h qzreplace.h qzstr.h)
set(adminlib adminlib.h)
file(GLOB save RELATIVE ${ROOT}/include/libvyxsave ${ROOT}/include/libvyxsave/*.h)
file(GLOB save_inside RELATIVE ${ROOT}/lib/libvyxsave ${ROOT}/lib/libvyxsave/*.h)
file(GLOB adminlib_inside RELATIVE ${ROOT}/platform/qzhttpd ${ROOT}/platform/qzhttpd/*.h)
set(framework vyxanswer.h vyxaui.h vyxbase.h vyxform.h)

set(allowed_platform/qzpr ${runtime})
set(allowed_include ${core} qzpr.h ${save} ${framework})
set(allowed_include/libvyxadmin ${core} qzpr.h ${save} ${framework})
set(allowed_lib/libqzcore ${core} qzpr.h)
set(allowed_include/libvyxsave ${core} ${save})
set(allowed_lib/libvyxsave ${core} qzpr.h ${save} ${save_inside})
set(allowed_platform/qzhttpd ${adminlib} ${adminlib_inside})
set(allowed_lib/libvyxadmin ${core} qzpr.h ${save} ${adminlib} ${framework})
file(GLOB newadmin_headers RELATIVE ${ROOT}/newadmin/src ${ROOT}/newadmin/src/*.h)
set(allowed_newadmin/src ${core} qzpr.h ${save} ${adminlib} ${framework} ${newadmin_headers})

set(failures "")
foreach(layer platform/qzpr include/libvyxsave include/libvyxadmin lib/libqzcore lib/libvyxsave
              platform/qzhttpd lib/libvyxadmin newadmin/src)
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
