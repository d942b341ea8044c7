# What makes a build a release: one version (the project's), the build date the About box shows,
# taken from the last commit's time rather than the clock, and builds that give the same bytes
# from any checkout folder at any time.
#   QUELLOR_BUILD_DATE   "Mmm dd yyyy" of the commit time (day padded with a space, as __DATE__)
#   generated/quellor_version.h   the version's numbers and text, for the version resource
#   release.env          the version and the time, for scripts/dist.sh
# SOURCE_DATE_EPOCH in the environment wins; then the last commit's time; without git, the time of
# CMakeLists.txt (which git archive sets to the commit time).

if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(QUELLOR_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct
                  OUTPUT_VARIABLE QUELLOR_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE git_result ERROR_QUIET)
  if(NOT git_result EQUAL 0 OR NOT QUELLOR_EPOCH MATCHES "^[0-9]+$")
    file(TIMESTAMP ${CMAKE_SOURCE_DIR}/CMakeLists.txt QUELLOR_EPOCH "%s" UTC)
  endif()
  # string(TIMESTAMP) formats SOURCE_DATE_EPOCH when it is set, and only this configure run sees it.
  set(ENV{SOURCE_DATE_EPOCH} ${QUELLOR_EPOCH})
endif()
string(TIMESTAMP month_number "%m" UTC)
string(TIMESTAMP day "%d" UTC)
string(TIMESTAMP year "%Y" UTC)
string(REGEX REPLACE "^0" "" month_number "${month_number}")
math(EXPR month_index "${month_number} - 1")
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(GET months ${month_index} month)
string(REGEX REPLACE "^0" " " day "${day}")
set(QUELLOR_BUILD_DATE "${month} ${day} ${year}")

configure_file(${CMAKE_SOURCE_DIR}/resources/quellor_version.h.in
               ${CMAKE_BINARY_DIR}/generated/quellor_version.h @ONLY)
file(WRITE ${CMAKE_BINARY_DIR}/release.env.tmp
     "QUELLOR_VERSION=${PROJECT_VERSION}\nSOURCE_DATE_EPOCH=${QUELLOR_EPOCH}\n")
file(COPY_FILE ${CMAKE_BINARY_DIR}/release.env.tmp ${CMAKE_BINARY_DIR}/release.env ONLY_IF_DIFFERENT)
file(REMOVE ${CMAKE_BINARY_DIR}/release.env.tmp)

# No trace of the checkout's folder in the objects (assertions carry their source file's name),
# and no link time in the images.
add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=>)
add_link_options(-Wl,--no-insert-timestamp)
