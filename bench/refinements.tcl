proc f {a twice plus b} {
  if {$twice} { set a [expr {$a * 2}] }
  if {$plus} { set a [expr {$a + $b}] }
  return $a
}
proc main {} {
  set sum 0
  for {set i 1} {$i <= 1000000} {incr i} { set sum [expr {$sum + [f $i 1 1 1]}] }
  puts $sum
}
main
