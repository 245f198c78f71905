proc f {a} {
  set a [expr {$a + 1}]
  return $a
}
proc main {} {
  set sum 0
  for {set i 1} {$i <= 1000000} {incr i} { set sum [expr {$sum + [f $i]}] }
  puts $sum
}
main
