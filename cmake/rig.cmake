# Loopback test servers for the network tests (standins/updateserver/mvrig.py), started and stopped by ctest.
#
# mvu_rig(NAME name ADDRESS 127.83.N.1 [HOSTS name[=address]...]
#         [WRONG_NAME_ADDRESS 127.83.N.2] [EXPIRED_ADDRESS 127.83.N.3]
#         [UNTRUSTED_ADDRESS 127.83.N.4] [TINYPROXY_ADDRESS 127.83.N.5]
#         [SECOND_HTTPS_PORT port] [PREFIX MVU_RIG])
#
# adds the tests rig_<name>_start and rig_<name>_stop as setup and cleanup of the fixture
# rig_<name>. A test program asks for it with mvu_test(... FIXTURES rig_<name>): ctest starts the
# rig first, runs the programs that use it one at a time (they share its script and records), and
# passes it where the rig listens:
#   MVU_RIG_ADDRESS, MVU_RIG_HOST               http :80, https :443, proxy, control
#   MVU_RIG_HOSTS                               every name of that address, comma-separated
#   MVU_RIG_PROXY_PORT, MVU_RIG_CONTROL_PORT    8080, 8079
#   MVU_RIG_WRONG_NAME_ADDRESS, MVU_RIG_WRONG_NAME_HOST   https :443, certificate for another name
#   MVU_RIG_EXPIRED_ADDRESS, MVU_RIG_EXPIRED_HOST         https :443, expired certificate
#   MVU_RIG_UNTRUSTED_ADDRESS, MVU_RIG_UNTRUSTED_HOST     https :443, certificate of an unknown CA
#   MVU_RIG_TINYPROXY_ADDRESS, MVU_RIG_TINYPROXY_PORT     tinyproxy (CONNECT to :443 only), 8888
#   MVU_RIG_SECOND_HTTPS_PORT                   https on this port of ADDRESS too
# HOSTS go into the run's private hosts file (a name alone stands for ADDRESS); the *_HOST
# variables carry the first name given for each address. PREFIX replaces "MVU_RIG" in every name
# above, so that a test program can use two rigs.
#
# Every rig needs addresses and names of its own: take 127.83.N.1 to .5 with an N no other folder
# uses. Rigs only run inside tools/with-test-network (tools/test.sh runs ctest in it).

find_program(MVU_PYTHON3 python3 REQUIRED)
set(MVU_RIG_SCRIPT ${PROJECT_SOURCE_DIR}/standins/updateserver/mvrig.py)

# The names HOSTS gives for address, comma-separated, and the first of them.
function(_mvu_rig_host_of out address default_address hosts)
  set(found "")
  set(all "")
  foreach(entry IN LISTS hosts)
    if(entry MATCHES "^([^=]+)=(.+)$")
      set(name ${CMAKE_MATCH_1})
      set(at ${CMAKE_MATCH_2})
    else()
      set(name ${entry})
      set(at ${default_address})
    endif()
    if(at STREQUAL address)
      if(NOT found)
        set(found ${name})
        set(all ${name})
      else()
        string(APPEND all ",${name}")
      endif()
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
  set(${out}_all "${all}" PARENT_SCOPE)
endfunction()

function(mvu_rig)
  cmake_parse_arguments(ARG ""
    "NAME;ADDRESS;WRONG_NAME_ADDRESS;EXPIRED_ADDRESS;UNTRUSTED_ADDRESS;TINYPROXY_ADDRESS;SECOND_HTTPS_PORT;PREFIX"
    "HOSTS" ${ARGN})
  if(NOT ARG_NAME OR NOT ARG_ADDRESS)
    message(FATAL_ERROR "mvu_rig: NAME and ADDRESS are required")
  endif()
  get_property(used GLOBAL PROPERTY MVU_RIG_ADDRESSES)
  foreach(address IN ITEMS ${ARG_ADDRESS} ${ARG_WRONG_NAME_ADDRESS} ${ARG_EXPIRED_ADDRESS}
                       ${ARG_UNTRUSTED_ADDRESS} ${ARG_TINYPROXY_ADDRESS})
    if(NOT address MATCHES "^127\\.[0-9]+\\.[0-9]+\\.[0-9]+$")
      message(FATAL_ERROR "mvu_rig(${ARG_NAME}): ${address} is not a loopback address")
    endif()
    if(address IN_LIST used)
      message(FATAL_ERROR "mvu_rig(${ARG_NAME}): ${address} is already another rig's")
    endif()
    set_property(GLOBAL APPEND PROPERTY MVU_RIG_ADDRESSES ${address})
  endforeach()

  set(fixture rig_${ARG_NAME})
  set(state ${CMAKE_BINARY_DIR}/rig/${ARG_NAME})
  set(serve --address ${ARG_ADDRESS})
  foreach(entry IN LISTS ARG_HOSTS)
    list(APPEND serve --host ${entry})
  endforeach()
  if(ARG_WRONG_NAME_ADDRESS)
    list(APPEND serve --wrong-name-address ${ARG_WRONG_NAME_ADDRESS})
  endif()
  if(ARG_EXPIRED_ADDRESS)
    list(APPEND serve --expired-address ${ARG_EXPIRED_ADDRESS})
  endif()
  if(ARG_UNTRUSTED_ADDRESS)
    list(APPEND serve --untrusted-address ${ARG_UNTRUSTED_ADDRESS})
  endif()
  if(ARG_TINYPROXY_ADDRESS)
    list(APPEND serve --tinyproxy-address ${ARG_TINYPROXY_ADDRESS})
  endif()
  if(ARG_SECOND_HTTPS_PORT)
    list(APPEND serve --second-https-port ${ARG_SECOND_HTTPS_PORT})
  endif()
  if(NOT ARG_PREFIX)
    set(ARG_PREFIX MVU_RIG)
  endif()

  add_test(NAME ${fixture}_start
           COMMAND ${MVU_PYTHON3} ${MVU_RIG_SCRIPT} start --pidfile ${state}.pid --log ${state}.log ${serve})
  add_test(NAME ${fixture}_stop COMMAND ${MVU_PYTHON3} ${MVU_RIG_SCRIPT} stop --pidfile ${state}.pid)
  set_tests_properties(${fixture}_start PROPERTIES FIXTURES_SETUP ${fixture} TIMEOUT 120)
  set_tests_properties(${fixture}_stop PROPERTIES FIXTURES_CLEANUP ${fixture} TIMEOUT 60)

  _mvu_rig_host_of(host "${ARG_ADDRESS}" "${ARG_ADDRESS}" "${ARG_HOSTS}")
  _mvu_rig_host_of(wrong_host "${ARG_WRONG_NAME_ADDRESS}" "${ARG_ADDRESS}" "${ARG_HOSTS}")
  _mvu_rig_host_of(expired_host "${ARG_EXPIRED_ADDRESS}" "${ARG_ADDRESS}" "${ARG_HOSTS}")
  _mvu_rig_host_of(untrusted_host "${ARG_UNTRUSTED_ADDRESS}" "${ARG_ADDRESS}" "${ARG_HOSTS}")
  set(p ${ARG_PREFIX})
  set(environment
    ${p}_ADDRESS=${ARG_ADDRESS}
    ${p}_HOST=${host}
    ${p}_HOSTS=${host_all}
    ${p}_PROXY_PORT=8080
    ${p}_CONTROL_PORT=8079
    ${p}_WRONG_NAME_ADDRESS=${ARG_WRONG_NAME_ADDRESS}
    ${p}_WRONG_NAME_HOST=${wrong_host}
    ${p}_EXPIRED_ADDRESS=${ARG_EXPIRED_ADDRESS}
    ${p}_EXPIRED_HOST=${expired_host}
    ${p}_UNTRUSTED_ADDRESS=${ARG_UNTRUSTED_ADDRESS}
    ${p}_UNTRUSTED_HOST=${untrusted_host}
    ${p}_TINYPROXY_ADDRESS=${ARG_TINYPROXY_ADDRESS}
    ${p}_TINYPROXY_PORT=8888
    ${p}_SECOND_HTTPS_PORT=${ARG_SECOND_HTTPS_PORT})
  # Read by mvu_test's FIXTURES keyword (cmake/mvu.cmake).
  set_property(GLOBAL PROPERTY MVU_FIXTURE_ENVIRONMENT_${fixture} "${environment}")
  set_property(GLOBAL PROPERTY MVU_FIXTURE_LOCK_${fixture} ${fixture})
endfunction()
