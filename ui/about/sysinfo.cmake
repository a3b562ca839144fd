# The About box's system-information launcher and the registry it reads: plain C++ without
# Qt, built in every configuration.
set(ORBELANT_PLATFORM_DIR ${CMAKE_SOURCE_DIR}/app/platform)

add_library(orbelant_sysinfo STATIC
  ${CMAKE_CURRENT_LIST_DIR}/sysinfolauncher.cpp ${CMAKE_CURRENT_LIST_DIR}/sysinfolauncher.h
  ${ORBELANT_PLATFORM_DIR}/sysinfoservices.h
)
target_include_directories(orbelant_sysinfo PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${ORBELANT_PLATFORM_DIR})

add_library(orbelant_sysinfo_platform STATIC
  ${ORBELANT_PLATFORM_DIR}/systemregistry.cpp ${ORBELANT_PLATFORM_DIR}/systemregistry.h
  ${ORBELANT_PLATFORM_DIR}/viewerregistry.cpp ${ORBELANT_PLATFORM_DIR}/viewerregistry.h
)
target_include_directories(orbelant_sysinfo_platform PUBLIC ${ORBELANT_PLATFORM_DIR})
if(WIN32)
  target_sources(orbelant_sysinfo_platform PRIVATE
    ${ORBELANT_PLATFORM_DIR}/win32sysinfo.cpp ${ORBELANT_PLATFORM_DIR}/win32sysinfo.h)
  target_link_libraries(orbelant_sysinfo_platform PUBLIC advapi32)
endif()
