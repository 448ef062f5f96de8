# Run by cpack on the staged files of the Debian package, before it is packed: the
# manual pages compressed, and the copyright file and changelog Debian asks for in
# the package's own documentation directory. With SOURCE_DATE_EPOCH set (a release)
# every staged file and directory takes that time, so the package's bytes depend
# only on the sources.
set(root ${CPACK_TEMPORARY_DIRECTORY})
set(own_doc ${root}/usr/share/doc/${CPACK_PACKAGE_NAME})

function(compress_into source target)
  execute_process(COMMAND gzip -9 -n -c ${source} OUTPUT_FILE ${target} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot compress ${source}")
  endif()
  file(CHMOD ${target} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endfunction()

file(GLOB pages ${root}/usr/share/man/man*/*.[1-9])
foreach(page ${pages})
  compress_into(${page} ${page}.gz)
  file(REMOVE ${page})
endforeach()

file(MAKE_DIRECTORY ${own_doc})
file(COPY_FILE ${CPACK_PESTKILL_DEBIAN_COPYRIGHT} ${own_doc}/copyright)
file(CHMOD ${own_doc}/copyright PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
compress_into(${CPACK_PESTKILL_DEBIAN_CHANGELOG} ${own_doc}/changelog.gz)

if(DEFINED ENV{SOURCE_DATE_EPOCH})
  file(GLOB_RECURSE staged LIST_DIRECTORIES true ${root}/*)
  execute_process(COMMAND touch -h -d @$ENV{SOURCE_DATE_EPOCH} ${staged} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot set the time of the staged files")
  endif()
endif()
