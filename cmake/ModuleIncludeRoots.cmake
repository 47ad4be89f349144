# zembrat_publish_include_roots(<module>...)
# Each module library zembrat_<module> (and zembrat_<module>_core, the part of a module that
# builds without the toolkit) publishes a root of its own: a build-tree folder that
# holds only the link <module> -> src/<module>. A target then finds "platform/files.h" only
# when it links zembrat_platform (directly or through a library that links it publicly), so
# an include against the direction of the links fails to compile instead of holding by habit.
function(zembrat_publish_include_roots)
    foreach(module IN LISTS ARGN)
        set(root "${PROJECT_BINARY_DIR}/include-roots/${module}")
        file(MAKE_DIRECTORY "${root}")
        file(CREATE_LINK "${PROJECT_SOURCE_DIR}/src/${module}" "${root}/${module}" SYMBOLIC)
        foreach(target zembrat_${module} zembrat_${module}_core)
            if(TARGET ${target})
                target_include_directories(${target} PUBLIC "$<BUILD_INTERFACE:${root}>")
            endif()
        endforeach()
    endforeach()
endfunction()
