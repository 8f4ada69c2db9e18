# SPDX-License-Identifier: MIT
# Installation, package files and Windows version resources. Everything
# takes its version from project(VERSION). Included before the components;
# the rules are made once all of them are defined, at the end of the
# top-level directory, whichever targets a configuration builds.
#
# cmake --install <build> [--prefix <dir>] [--component <name>] installs:
#   spifns_runtime      the shared library: libspifns.so.1 and the file it names
#                       (libspifns.so.1.0.0), or spifns.dll
#   spifns_development  spifns.h, spifns_exports.h, the libspifns.so link, the CMake package
#                       (find_package(spifns) -> spifns::spifns) and spifns.pc
#   spifns_simport      simport.h, the attach API of the simulated port drivers
#                       that the native library serves in place of a port driver
#   spitool             the command-line host, its man page and bash completion
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(WIN32)
  enable_language(RC)
endif()

# A target is installed only where the default build makes it (the fuzz
# preset, for one, builds no shared library).
function(spifns_built target result)
  set(built FALSE)
  if(TARGET ${target})
    get_target_property(excluded ${target} EXCLUDE_FROM_ALL)
    if(NOT excluded)
      set(built TRUE)
    endif()
  endif()
  set(${result} ${built} PARENT_SCOPE)
endfunction()

# ---- Windows version resources ---------------------------------------------------
# One template for every image: file and product version, description,
# original file name and licence, from the values set before configuring it.
function(spifns_version_resource target description file_type file_subtype)
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  get_target_property(suffix ${target} SUFFIX)
  if(NOT suffix)
    get_target_property(kind ${target} TYPE)
    if(kind STREQUAL "EXECUTABLE")
      set(suffix ${CMAKE_EXECUTABLE_SUFFIX})
    else()
      set(suffix ${CMAKE_SHARED_LIBRARY_SUFFIX})
    endif()
  endif()
  set(RC_FILE_NAME ${name}${suffix})
  set(RC_INTERNAL_NAME ${name})
  set(RC_DESCRIPTION "${description}")
  set(RC_FILE_TYPE ${file_type})
  set(RC_FILE_SUBTYPE ${file_subtype})
  set(rc ${PROJECT_BINARY_DIR}/version/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()

function(spifns_packaging)
  set(SPIFNS_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/spifns)
  spifns_built(spifns have_library)
  if(have_library)
    install(TARGETS spifns EXPORT spifnsTargets
      RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT spifns_runtime
      LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT spifns_runtime
              NAMELINK_COMPONENT spifns_development
      ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT spifns_development)
    # spifns_exports.h lists the exports for hosts that resolve them by name.
    # spifns_wire.h stays private: it is the line and status bit layout that
    # the library and the port driver share, and spifns.h does not need it.
    install(FILES ${PROJECT_SOURCE_DIR}/include/spifns.h ${PROJECT_SOURCE_DIR}/include/spifns_exports.h
      DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT spifns_development)
    if(NOT WIN32)
      install(FILES ${PROJECT_SOURCE_DIR}/include/simport.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT spifns_simport)
    endif()

    install(EXPORT spifnsTargets NAMESPACE spifns::
      DESTINATION ${SPIFNS_CMAKE_DIR} COMPONENT spifns_development)
    # The same package in the build tree: find_package(spifns) with spifns_DIR
    # set to it takes the library as built, with the headers of the sources.
    export(EXPORT spifnsTargets NAMESPACE spifns:: FILE ${PROJECT_BINARY_DIR}/spifnsTargets.cmake)
    configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/spifnsConfig.cmake.in
      ${PROJECT_BINARY_DIR}/spifnsConfig.cmake INSTALL_DESTINATION ${SPIFNS_CMAKE_DIR})
    # 1.x hosts accept any 1.y: the interface only grows within a major version.
    write_basic_package_version_file(${PROJECT_BINARY_DIR}/spifnsConfigVersion.cmake
      VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
    install(FILES ${PROJECT_BINARY_DIR}/spifnsConfig.cmake ${PROJECT_BINARY_DIR}/spifnsConfigVersion.cmake
      DESTINATION ${SPIFNS_CMAKE_DIR} COMPONENT spifns_development)

    # spifns.pc names the prefix installed to in full (pkg-config compares
    # it with the system directories it leaves out of the flags): written
    # when installing, so that the prefix given to cmake --install, not the
    # one configured, is the one it names (DESTDIR stays out of it). An
    # absolute library or include directory is named as it is.
    foreach(dir LIBDIR INCLUDEDIR)
      if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
        set(SPIFNS_PC_${dir} ${CMAKE_INSTALL_${dir}})
      else()
        set(SPIFNS_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
      endif()
    endforeach()
    set(SPIFNS_PC_PREFIX "@SPIFNS_PC_PREFIX@") # filled in when installing
    set(pc ${PROJECT_BINARY_DIR}/pkgconfig/spifns.pc)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/spifns.pc.in ${pc}.in @ONLY)
    install(CODE "set(SPIFNS_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
      configure_file(\"${pc}.in\" \"${pc}\" @ONLY)" COMPONENT spifns_development)
    install(FILES ${pc} DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT spifns_development)
  endif()
  # The USB edition, for hosts that load it by name (spitool --usb).
  spifns_built(spifns_usb have_usb)
  if(have_usb AND NOT WIN32)
    install(TARGETS spifns_usb LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT spifns_usb NAMELINK_SKIP)
  endif()

  if(TARGET spitool)
    target_compile_definitions(spitool PRIVATE SPITOOL_VERSION="${PROJECT_VERSION}")
    if(NOT WIN32)
      # spitool loads the library beside itself (the build tree), else the one
      # in the installed library directory, found relative to its own; where
      # either directory is absolute, by the library directory's full path.
      if(IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
        set(tool_to_lib ${CMAKE_INSTALL_FULL_LIBDIR})
      else()
        file(RELATIVE_PATH tool_to_lib /root/${CMAKE_INSTALL_BINDIR} /root/${CMAKE_INSTALL_LIBDIR})
      endif()
      target_compile_definitions(spitool PRIVATE
        SPITOOL_LIBRARY_FILE="$<TARGET_SONAME_FILE_NAME:spifns>" SPITOOL_INSTALLED_LIBDIR="${tool_to_lib}")
      # Without the USB edition, --usb finds it not installed.
      if(TARGET spifns_usb)
        target_compile_definitions(spitool PRIVATE SPITOOL_USB_LIBRARY_FILE="$<TARGET_SONAME_FILE_NAME:spifns_usb>")
      else()
        target_compile_definitions(spitool PRIVATE SPITOOL_USB_LIBRARY_FILE="")
      endif()
    endif()
    spifns_built(spitool have_tool)
    if(have_tool)
      install(TARGETS spitool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT spitool)
    endif()
  endif()

  if(WIN32)
    if(TARGET spifns)
      spifns_version_resource(spifns "spifns SPI transport over the parallel port" VFT_DLL 0)
    endif()
    if(TARGET spifns_usb)
      spifns_version_resource(spifns_usb "spifns SPI transport over FTDI USB adapters" VFT_DLL 0)
    endif()
    if(TARGET spitool)
      spifns_version_resource(spitool "spitool, command-line host of spifns" VFT_APP 0)
    endif()
    if(TARGET torvex)
      # torvex.sys for x86, torvex64.sys for x64 (the target's output name).
      if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(bits x64)
      else()
        set(bits x86)
      endif()
      spifns_version_resource(torvex "torvex parallel-port SPI driver (${bits})" VFT_DRV VFT2_DRV_SYSTEM)
    endif()
  endif()
endfunction()
cmake_language(DEFER CALL spifns_packaging)
